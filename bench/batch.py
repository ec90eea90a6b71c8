#!/usr/bin/python3
"""Batch throughput: `flickbook -i ... -z -o ...` against
`gifsicle -O2 --merge ... -o ...` on the same inputs, in the same run.

  bench/batch.py [BUILD_DIR]

Whole-process wall-clock time (the median of five runs) and output bytes.
"""
import glob
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
REAL = os.path.join(ROOT, "tests", "data", "gif-real")

SETS = {
    "samples": sorted(glob.glob(os.path.join(ROOT, "samples", "*.gif"))),
    "small real": [os.path.join(REAL, f) for f in
                   ("cellauto-ffmpeg.gif", "screen-sprite-ffmpeg.gif", "testsrc-localpal-ffmpeg.gif")],
    "testsrc2 x3": [os.path.join(REAL, f) for f in
                    ("testsrc2-diff-ffmpeg.gif", "testsrc2-im-optimized.gif", "testsrc2-interlaced-64.gif")],
    "all real": sorted(glob.glob(os.path.join(REAL, "*.gif"))),
}


def timed(cmd, env):
    times = []
    for _ in range(5):
        start = time.perf_counter()
        subprocess.run(cmd, check=True, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build")
    flickbook = os.path.join(build, "src", "flickbook")
    with tempfile.TemporaryDirectory() as tmp:
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(tmp, "config"))  # default settings
        ours, theirs = os.path.join(tmp, "ours.gif"), os.path.join(tmp, "theirs.gif")
        print(f"{'inputs':14} {'files':>5} {'in bytes':>10} {'flickbook':>10} {'time':>7} "
              f"{'gifsicle -O2':>12} {'time':>7}")
        for name, files in SETS.items():
            t_ours = timed([flickbook, "-i", *files, "-z", "-o", ours], env)
            t_theirs = timed(["gifsicle", "-O2", "--merge", *files, "-o", theirs], env)
            size_in = sum(os.path.getsize(f) for f in files)
            print(f"{name:14} {len(files):>5} {size_in:>10} {os.path.getsize(ours):>10} {t_ours:7.3f} "
                  f"{os.path.getsize(theirs):>12} {t_theirs:7.3f}")


if __name__ == "__main__":
    main()
