#!/usr/bin/python3
"""Optimizing files one by one: `flickbook --each --optimize -o DIR` against
`gifsicle -O2 --batch` on copies of the same GIFs, in the same run.

  bench/batch_each.py [BUILD_DIR] [--runs N]

Inputs: every GIF of tests/data/gif-real. Prints the total output bytes and
the whole-run wall-clock time (the median of N runs, default 3) of each.
"""
import argparse
import glob
import os
import shutil
import statistics
import subprocess
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
INPUTS = sorted(glob.glob(os.path.join(ROOT, "tests", "data", "gif-real", "*.gif")))


def timed(runs, prepare, cmd, env):
    times = []
    for _ in range(runs):
        prepare()
        start = time.perf_counter()
        subprocess.run(cmd, check=True, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def total_bytes(folder):
    return sum(os.path.getsize(os.path.join(folder, f)) for f in os.listdir(folder))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", nargs="?", default=os.path.join(ROOT, "build"))
    parser.add_argument("--runs", type=int, default=3)
    options = parser.parse_args()
    runs, build = options.runs, options.build
    flickbook = os.path.join(build, "src", "flickbook")
    with tempfile.TemporaryDirectory() as tmp:
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(tmp, "config"))  # default settings
        ours, theirs = os.path.join(tmp, "ours"), os.path.join(tmp, "theirs")

        def fresh_ours():
            shutil.rmtree(ours, ignore_errors=True)

        def fresh_theirs():
            # --batch changes files in place: fresh copies every run.
            shutil.rmtree(theirs, ignore_errors=True)
            os.makedirs(theirs)
            for f in INPUTS:
                shutil.copy(f, theirs)

        ours_cmd = [flickbook, "--each", "--optimize", "-i", *INPUTS, "-o", ours]
        t_ours = timed(runs, fresh_ours, ours_cmd, env)
        theirs_files = [os.path.join(theirs, os.path.basename(f)) for f in INPUTS]
        t_theirs = timed(runs, fresh_theirs, ["gifsicle", "-O2", "--batch", *theirs_files], env)
        size_in = sum(os.path.getsize(f) for f in INPUTS)
        print(f"{len(INPUTS)} files, {size_in} bytes in, median of {runs} runs, "
              f"{os.cpu_count()} cores")
        print(f"{'':28} {'bytes out':>10} {'time s':>8}")
        print(f"{'flickbook --each --optimize':28} {total_bytes(ours):>10} {t_ours:8.2f}")
        print(f"{'gifsicle -O2 --batch':28} {total_bytes(theirs):>10} {t_theirs:8.2f}")
        print(f"bytes ratio {total_bytes(ours) / total_bytes(theirs):.3f}, "
              f"time ratio {t_ours / t_theirs:.2f}")


if __name__ == "__main__":
    main()
