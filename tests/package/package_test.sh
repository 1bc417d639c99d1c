#!/usr/bin/env bash
# What installing a built tree gives, and its Debian package:
#   package_test.sh install BUILD_DIR   cmake --install into a new prefix: programs, manual pages, docs
#   package_test.sh deb BUILD_DIR       cpack -G DEB: the same files below /usr, the control fields
# Exit status 0 passed, 1 failed, 77 skipped (no dpkg-deb).
set -euo pipefail
mode=$1
build=$(cd "$2" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
programs=(quorda hydinfo rainprod rainsim campaign)

fail() {
  echo "FAILED: $*"
  exit 1
}

# The programs, one manual page each, the README and docs/ below the prefix $1, and nothing else
# straight in it.
expect_tree() {
  local p=$1
  for name in "${programs[@]}"; do
    [[ -x $p/bin/$name ]] || fail "no program $p/bin/$name"
    local page=$p/share/man/man1/$name.1
    [[ -f $page ]] || fail "no manual page $page"
    grep -q "^\.TH ${name^^} 1 .*quorda $version" "$page" || fail "$page: no title line of version $version"
  done
  "$p/bin/hydinfo" --help >/dev/null || fail "the installed hydinfo does not run"
  for doc in README.md docs/hyd_format.md docs/rain_products.md; do
    [[ -f $p/share/doc/quorda/$doc ]] || fail "no $p/share/doc/quorda/$doc"
  done
  local top
  top=$(cd "$p" && ls | tr '\n' ' ')
  [[ $top == "bin share " ]] || fail "the prefix holds $top"
}

case $mode in
  install)
    cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
    expect_tree "$tmp/prefix"
    ;;
  deb)
    command -v dpkg-deb >/dev/null || {
      echo "skipped: dpkg-deb is missing"
      exit 77
    }
    (cd "$tmp" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/out" >"$tmp/cpack.log" 2>&1) ||
      fail "cpack -G DEB: $(cat "$tmp/cpack.log")"
    deb=$(ls "$tmp"/out/*.deb)
    [[ $(dpkg-deb -f "$deb" Package) == quorda ]] || fail "package name $(dpkg-deb -f "$deb" Package)"
    [[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "version $(dpkg-deb -f "$deb" Version), not $version"
    [[ $(dpkg-deb -f "$deb" Maintainer) == "quorda developers <quorda@localhost>" ]] ||
      fail "maintainer '$(dpkg-deb -f "$deb" Maintainer)'"
    [[ $(dpkg-deb -f "$deb" Section) == science ]] || fail "section '$(dpkg-deb -f "$deb" Section)'"
    [[ -n $(dpkg-deb -f "$deb" Description) ]] || fail "no description"
    # Every library the programs link comes from a package the package depends on.
    depends=$(dpkg-deb -f "$deb" Depends)
    for lib in libc6 libstdc++6; do
      [[ $depends == *"$lib"* ]] || fail "Depends '$depends' lacks $lib"
    done
    if ldd "$build/rainprod" | grep -q libnetcdf; then
      [[ $depends == *libnetcdf* ]] || fail "rainprod links NetCDF, Depends '$depends' does not name it"
    fi
    listing=$(dpkg-deb -c "$deb")
    grep -q ' \./usr/bin/quorda$' <<<"$listing" || fail "dpkg-deb -c lists no ./usr/bin/quorda"
    dpkg-deb -x "$deb" "$tmp/root"
    expect_tree "$tmp/root/usr"
    ;;
  *)
    echo "usage: package_test.sh install|deb BUILD_DIR" >&2
    exit 2
    ;;
esac
