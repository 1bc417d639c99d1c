#!/usr/bin/python3
"""Runs the command blocks of README.md as written, in order, in a scratch folder.

usage: /usr/bin/python3 scripts/readme_blocks.py BUILD_DIR [README]

The scratch folder holds a copy of scripts/ and python/ and `build`, a link to BUILD_DIR, so that a
block that names build/quorda, scripts/sample_day.sh or ./python finds them; it is also the blocks'
HOME, so everything the blocks write stays in it (~/.local, ~/quorda-venv), and it is removed when
every block passed. Each ```sh block runs with `bash -euo pipefail`, each ```python block with the
Python of ~/quorda-venv once a block has made that environment (as the README's reader does), with
/usr/bin/python3 before; both in the scratch folder; other blocks (text, bat) are not run. A block that ends with a status other than 0 fails the test.

An HTML comment on the line before a block (invisible on the rendered page) changes what is done:

  <!-- readme-test: skip -->           the block is not run
  <!-- readme-test: skip TEXT -->      its lines that hold TEXT are not run (the test command)
  <!-- readme-test: file PATH -->      the block's text is written to PATH instead of being run
  <!-- readme-test: setup: COMMAND --> COMMAND (bash) runs first: it makes the files that the
                                       block expects from the reader, such as a folder of raw days

A marker may end with a remark in parentheses. Blocks that submit to a cluster run through a
stand-in `sbatch` first on PATH: it runs the script once for each task of its --array (from the
command line or the script's #SBATCH lines) with SLURM_ARRAY_TASK_ID set, one after the other, and
exits with the highest status.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

MARKER = re.compile(r"<!--\s*readme-test:\s*(skip(?:\s+(\S+))?|file\s+(\S+)|setup:\s*(.*?))(?:\s+\(.*\))?\s*-->")
FENCE = re.compile(r"^```(\w*)\s*$")

SBATCH_STAND_IN = r'''#!/usr/bin/python3
# Stand-in for sbatch: runs the array's tasks one after the other (see readme_blocks.py).
import os, re, subprocess, sys
args = sys.argv[1:]
array = None
script = None
for a in args:
    if a.startswith("--array="):
        array = a.split("=", 1)[1]
    elif not a.startswith("-"):
        script = a
if script is None:
    sys.exit("sbatch stand-in: no script given")
if array is None:
    for line in open(script):
        m = re.match(r"#SBATCH\s+--array=(\S+)", line)
        if m:
            array = m.group(1)
tasks = []
for part in (array or "0").split("%")[0].split(","):
    lo, _, hi = part.partition("-")
    tasks += range(int(lo), int(hi or lo) + 1)
status = 0
for t in tasks:
    env = dict(os.environ, SLURM_ARRAY_TASK_ID=str(t))
    status = max(status, subprocess.call(["bash", script], env=env))
print("Submitted batch job 1")
sys.exit(status)
'''


def blocks(readme):
    """Yields (line number, language, text, marker) for each fenced block."""
    lines = open(readme, encoding="utf-8").read().split("\n")
    i = 0
    while i < len(lines):
        m = FENCE.match(lines[i])
        if not m:
            i += 1
            continue
        marker = MARKER.search(lines[i - 1]) if i > 0 else None
        start = i
        i += 1
        body = []
        while i < len(lines) and not lines[i].startswith("```"):
            body.append(lines[i])
            i += 1
        i += 1
        yield start + 1, m.group(1), "\n".join(body) + "\n", marker


def run(cmd, cwd, env, what):
    r = subprocess.run(cmd, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                       text=True, errors="replace")
    if r.returncode != 0:
        print(f"FAILED ({r.returncode}): {what}\n{r.stdout}", file=sys.stderr)
        return False
    return True


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    build = os.path.abspath(sys.argv[1])
    source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    readme = sys.argv[2] if len(sys.argv) == 3 else os.path.join(source, "README.md")

    scratch = tempfile.mkdtemp(prefix="readme-blocks-")
    # What a build or an import may leave in the tree (and remove while it is copied) stays behind.
    leftovers = shutil.ignore_patterns("__pycache__", "build", "*.egg-info")
    shutil.copytree(os.path.join(source, "scripts"), os.path.join(scratch, "scripts"), ignore=leftovers)
    shutil.copytree(os.path.join(source, "python"), os.path.join(scratch, "python"), ignore=leftovers)
    os.symlink(build, os.path.join(scratch, "build"))
    stand_ins = os.path.join(scratch, ".stand-ins")
    os.mkdir(stand_ins)
    with open(os.path.join(stand_ins, "sbatch"), "w") as f:
        f.write(SBATCH_STAND_IN)
    os.chmod(os.path.join(stand_ins, "sbatch"), 0o755)
    # The reader's shell has none of the project's own settings, whatever the test runner was given
    # (QUORDA_BUILD_DIR names a folder of the checkout, not of the scratch folder).
    env = {k: v for k, v in os.environ.items() if not k.startswith("QUORDA_")}
    env.update(PATH=stand_ins + os.pathsep + os.environ.get("PATH", ""), HOME=scratch)
    venv_python = os.path.join(scratch, "quorda-venv", "bin", "python")

    ran = 0
    for line, lang, text, marker in blocks(readme):
        where = f"README.md line {line}"
        kind = marker.group(1) if marker else ""
        if kind == "skip":
            continue
        if kind.startswith("skip"):
            text = "".join(l for l in text.splitlines(True) if marker.group(2) not in l)
        if kind.startswith("file"):
            path = os.path.join(scratch, marker.group(3))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write(text)
            continue
        if lang not in ("sh", "python"):
            continue
        if kind.startswith("setup:") and not run(["bash", "-euo", "pipefail", "-c", marker.group(4)],
                                                 scratch, env, f"setup of {where}"):
            sys.exit(f"kept {scratch}")
        python = venv_python if os.path.exists(venv_python) else "/usr/bin/python3"
        cmd = ["bash", "-euo", "pipefail", "-c", text] if lang == "sh" else [python, "-c", text]
        start = time.monotonic()
        if not run(cmd, scratch, env, f"{where}:\n{text}"):
            sys.exit(f"kept {scratch}")
        print(f"{where}: {lang} block ran in {time.monotonic() - start:.1f} s")
        ran += 1
    shutil.rmtree(scratch)
    print(f"{ran} blocks of {readme} ran")
    if ran == 0:
        sys.exit("no block ran")


if __name__ == "__main__":
    main()
