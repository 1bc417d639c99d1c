#!/usr/bin/env bash
# The Debian packages that the sample day (sample) or the tests (test) need. Run as root with
# apt-get at hand, it installs the missing ones; otherwise it names them. On a system without dpkg
# it checks nothing. sample_day.sh and test.sh run it first.
# Usage: scripts/debian_packages.sh sample|test
set -euo pipefail

# The sample day: compiler, CMake and make, and the NetCDF library of the rain products.
sample=(cmake make g++ pkg-config libnetcdf-dev)
# The tests besides: GoogleTest, Google Benchmark, ncdump for the NetCDF read-back, Python with
# xarray, netCDF4 and matplotlib (read-back and plot tests), pip, setuptools and venv (the Python
# package installed from the tree), dpkg-dev (the Debian package's dependencies), strace (kill tests),
# util-linux and bsdextrautils.
tests=("${sample[@]}" libgtest-dev libbenchmark-dev netcdf-bin python3 python3-xarray python3-netcdf4
  python3-matplotlib python3-pip python3-setuptools python3-venv dpkg-dev strace util-linux bsdextrautils)

case "${1:-}" in
  sample) want=("${sample[@]}") ;;
  test) want=("${tests[@]}") ;;
  *)
    echo "usage: scripts/debian_packages.sh sample|test" >&2
    exit 2
    ;;
esac
command -v dpkg-query >/dev/null || exit 0

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q ' installed$' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
  echo "installing the Debian packages ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
else
  echo "missing Debian packages: ${missing[*]}" >&2
  echo "install them first (as root): apt-get install ${missing[*]}" >&2
  exit 1
fi
