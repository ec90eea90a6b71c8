#!/usr/bin/python3
"""Optimizer comparison: this program's optimizer, with the default options
(0x46E) and with `--optimize=best` (the lossless options and the smallest LZW
layout), against gifsicle -O2 and -O3 on the same files, in the same run.

  bench/optimize.py [BUILD_DIR]

Inputs: the animated GIFs of tests/data/gif-real, plus animations made here
with ffmpeg and written as full, unoptimized frames: a screen recording
(windows appearing on a desktop, a moving pointer), sprites moving over a still
background, and a photographic loop. Prints input bytes, output bytes and time
for each, and the totals. The last line compares `--optimize=best` with
gifsicle: its total bytes over -O3's, its total time over -O2's:

  optimize-best-vs-O3 BYTES_RATIO TIME_RATIO_VS_O2
"""
import glob
import os
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

GENERATED = {
    # A desktop: windows appear one after the other, a pointer moves.
    "screen-recording": (
        "color=c=0x3a6ea5:s=480x320:d=4:r=10,"
        "drawbox=x=40:y=40:w=220:h=150:color=white:t=fill:enable='gte(t,0.5)',"
        "drawbox=x=40:y=40:w=220:h=18:color=0x000080:t=fill:enable='gte(t,0.5)',"
        "drawbox=x=200:y=120:w=240:h=160:color=0xd4d0c8:t=fill:enable='gte(t,1.5)',"
        "drawbox=x=200:y=120:w=240:h=18:color=0x000080:t=fill:enable='gte(t,1.5)',"
        "drawbox=x=220:y=150:w=80:h=24:color=0x808080:t=fill:enable='gte(t,2.5)',"
        "drawbox=x='20+t*100':y='300-t*60':w=8:h=12:color=black:t=fill"),
    # Two sprites moving over a still, detailed background.
    "moving-sprites": (
        "testsrc2=s=64x48:r=12:d=4[sprite];"
        "smptehdbars=s=400x300:r=12:d=4[bg];"
        "[bg][sprite]overlay=x='t*80':y='100+60*sin(t*3)'[a];"
        "color=c=yellow:s=24x24:r=12:d=4[ball];"
        "[a][ball]overlay=x='360-t*70':y='40+abs(120*sin(t*4))'"),
    # A slowly changing photographic-looking picture (smooth gradients with
    # grain), made the same way on every run so that runs compare.
    "photo-loop": ("color=c=black:s=320x240:r=10:d=3,format=rgb24,"
                   "geq=r='128+90*sin(X/53+T*0.7)':g='128+90*sin(Y/41-T*0.5)':"
                   "b='128+90*sin((X+Y)/67+T*0.3)',noise=alls=8:allf=t:all_seed=7"),
}


def make_inputs(tmp):
    made = []
    for name, graph in GENERATED.items():
        out = os.path.join(tmp, name + ".gif")
        args = ["ffmpeg", "-v", "error", "-y"]
        if ";" in graph:
            args += ["-filter_complex", graph + ",split[s0][s1];[s0]palettegen[p];[s1][p]paletteuse"]
        else:
            args += ["-f", "lavfi", "-i", graph, "-vf", "split[s0][s1];[s0]palettegen[p];[s1][p]paletteuse"]
        # Full frames, as a naive encoder writes them: the optimizers do the work.
        args += ["-gifflags", "-offsetting-transdiff", out]
        subprocess.run(args, check=True)
        made.append(out)
    return made


def timed(cmd):
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build")
    fbinfo = os.path.join(build, "tools", "fbinfo")
    with tempfile.TemporaryDirectory() as tmp:
        files = sorted(glob.glob(os.path.join(ROOT, "tests", "data", "gif-real", "*.gif")))
        files += make_inputs(tmp)
        rows = []
        # input, default, time, best, time, -O2, time, -O3, time
        totals = [0, 0, 0.0, 0, 0.0, 0, 0.0, 0, 0.0]
        for f in files:
            outs = {k: os.path.join(tmp, k + ".gif") for k in ("ours", "best", "o2", "o3")}
            t_ours = timed([fbinfo, "--quiet", "--optimize-options", "0x46E", "--write",
                            outs["ours"], f])
            t_best = timed([fbinfo, "--quiet", "--optimize=best", "--write", outs["best"], f])
            t_o2 = timed(["gifsicle", "-O2", f, "-o", outs["o2"]])
            t_o3 = timed(["gifsicle", "-O3", f, "-o", outs["o3"]])
            size = {k: os.path.getsize(v) for k, v in outs.items()}
            row = [os.path.getsize(f), size["ours"], t_ours, size["best"], t_best, size["o2"], t_o2,
                   size["o3"], t_o3]
            rows.append((os.path.basename(f), row))
            totals = [a + b for a, b in zip(totals, row)]
        head = (f"{'file':30} {'input':>10} {'default':>10} {'time':>6} {'best':>10} {'time':>6}"
                f" {'-O2':>10} {'time':>6} {'-O3':>10} {'time':>6}")
        print(head)
        print("-" * len(head))
        for name, r in rows + [("TOTAL", totals)]:
            print(f"{name:30} {r[0]:>10} {r[1]:>10} {r[2]:6.2f} {r[3]:>10} {r[4]:6.2f}"
                  f" {r[5]:>10} {r[6]:6.2f} {r[7]:>10} {r[8]:6.2f}")
        grew = sum(1 for _, r in rows if r[3] > r[0])
        print(f"\ndefault / gifsicle -O2: bytes {totals[1] / totals[5]:.4f}, time {totals[2] / totals[6]:.2f}")
        print(f"default / gifsicle -O3: bytes {totals[1] / totals[7]:.4f}, time {totals[2] / totals[8]:.2f}")
        print(f"best / gifsicle -O3: bytes {totals[3] / totals[7]:.4f}; best / -O2: time "
              f"{totals[4] / totals[6]:.2f}; files larger than they went in: {grew}")
        print(f"optimize-best-vs-O3 {totals[3] / totals[7]:.4f} {totals[4] / totals[6]:.3f}")

if __name__ == "__main__":
    main()
