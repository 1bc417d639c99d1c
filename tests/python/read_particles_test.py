"""The Python reader against hydinfo on a simulated day converted by the real programs: the package
is installed from the source tree with pip (or imported from it where pip is missing), and
read_particles must give hydinfo --csv --outline line for line, digit for digit, on the whole stream
and on a copy cut inside a record.

    /usr/bin/python3 tests/python/read_particles_test.py BUILD_DIR PROJECT_VERSION
Exit status 0 passed, 1 failed, 77 skipped (numpy or pandas missing).
"""
import os
import shutil
import subprocess
import sys
import tempfile
import warnings

SKIP = 77
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def install_package(work):
    """Installs the tree's package into work/site with pip (from a copy, so that the tree stays
    clean) and returns that folder; the tree's folder itself when pip is missing."""
    if subprocess.run([sys.executable, "-m", "pip", "--version"], capture_output=True).returncode != 0:
        print("pip is missing: the package is imported from the source tree")
        return os.path.join(SOURCE, "python")
    copy = os.path.join(work, "python")
    shutil.copytree(os.path.join(SOURCE, "python"), copy)
    site = os.path.join(work, "site")
    subprocess.run([sys.executable, "-m", "pip", "install", "--quiet", "--no-build-isolation", "--no-deps",
                    "--no-index", "--root-user-action=ignore", "--target", site, copy], check=True)
    return site


def simulated_day(build, day):
    subprocess.run([os.path.join(build, "rainsim"), "--preset", "sample", "--seed", "1", "--quiet", "--out", day],
                   check=True)
    with open(os.devnull) as nothing:
        subprocess.run([os.path.join(build, "quorda"), "V26150_1.ab"], cwd=day, stdin=nothing,
                       stdout=subprocess.DEVNULL, check=True)
    return os.path.join(day, "V26150_1")


def as_hydinfo_lines(frame, columns):
    """The rows in hydinfo's CSV notation."""
    digits = {"t1_lines": 6, "time_s": 6, "eq_diam_mm": 2, "vel_m_s": 4, "scale_a_mm_px": 4, "scale_b_mm_px": 4}

    def cell(name, v):
        if name in digits:
            return "%.*f" % (digits[name], v)
        if name.startswith("outline_"):
            return "" if v is None else ";".join("%d:%d" % (s, e) for s, e in v)
        return "%d" % v

    return [",".join(cell(n, v) for n, v in zip(columns, row)) for row in frame[columns].itertuples(index=False)]


def same_as_hydinfo(quorda, hydinfo, base, strict):
    listing = subprocess.run([hydinfo, "--csv", "--outline", base], capture_output=True, text=True)
    expected = listing.stdout.splitlines()
    columns = expected[0].split(",")
    frame = quorda.read_particles(base, outline=True, strict=strict)
    got = as_hydinfo_lines(frame, columns)
    if len(got) != len(expected) - 1:
        print("%s: read_particles gives %d rows, hydinfo %d" % (base, len(got), len(expected) - 1))
        return False
    for i, (a, b) in enumerate(zip(got, expected[1:])):
        if a != b:
            print("%s: row %d differs:\n  python  %s\n  hydinfo %s" % (base, i, a, b))
            return False
    return len(got)


def main():
    build, version = os.path.abspath(sys.argv[1]), sys.argv[2]
    try:
        import numpy  # noqa: F401
        import pandas  # noqa: F401
    except ImportError as e:
        print("skipped: %s (Debian: python3-numpy, python3-pandas)" % e)
        return SKIP
    hydinfo = os.path.join(build, "hydinfo")
    with tempfile.TemporaryDirectory() as work:
        site = install_package(work)
        sys.path.insert(0, site)
        import quorda
        failed = []
        if not os.path.abspath(quorda.__file__).startswith(site):
            failed.append("quorda imported from %s, not from %s" % (quorda.__file__, site))
        if quorda.__version__ != version:
            failed.append("package version %s, the programs' %s" % (quorda.__version__, version))

        base = simulated_day(build, os.path.join(work, "day"))
        rows = same_as_hydinfo(quorda, hydinfo, base, strict=True)
        if not rows:
            failed.append("the whole day")
        elif rows < 1000:
            failed.append("only %d particles on the sample day" % rows)

        headers = quorda.read_headers(base)
        in_stream = quorda.read_headers(base, source="hyd")
        if len(headers) == 0 or not headers.equals(in_stream):
            failed.append("the main headers of .hd and .hyd differ:\n%s\n%s" % (headers, in_stream))

        # A stream cut inside a record: strict reading refuses it, the lenient one gives the records
        # before the cut, as hydinfo lists them.
        cut = os.path.join(work, "cut")
        with open(base + ".hyd", "rb") as f:
            stream = f.read()
        with open(cut + ".hyd", "wb") as f:
            f.write(stream[:quorda.read_particles(base)["offset"].iloc[rows // 2] + 7])
        try:
            quorda.read_particles(cut, strict=True)
            failed.append("a cut stream read without an error")
        except ValueError:
            pass
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            if not same_as_hydinfo(quorda, hydinfo, cut, strict=False):
                failed.append("the cut stream")

    for f in failed:
        print("FAILED:", f)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
