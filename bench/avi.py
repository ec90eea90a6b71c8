#!/usr/bin/python3
"""AVI export and import against FFmpeg, in the same run.

  bench/avi.py [BUILD_DIR] [--runs N]

Export: GIFs of tests/data/gif-real written as AVI by `fbinfo --write` with
each compression (uncompressed 8-bit, RLE8, Video 1), beside ffmpeg writing the
same GIF as raw 8-bit video and as Video 1 (it has no RLE8 encoder). Both read
the GIF first. Import: AVIs made here with ffmpeg, read by `fbinfo` (decoding
and, for true-colour video, the palette merge) beside `ffmpeg -f null`
(decoding only). Prints bytes and the best wall-clock time of N runs.
"""
import glob
import os
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def timed(cmd, env=None, runs=3):
    best = None
    for _ in range(runs):
        t = time.perf_counter()
        r = subprocess.run(cmd, capture_output=True, env=env)
        elapsed = time.perf_counter() - t
        if r.returncode != 0:
            return None
        best = elapsed if best is None else min(best, elapsed)
    return best


def settings(tmp, name, handler=None, flags=0):
    home = os.path.join(tmp, "cfg-" + name)
    folder = os.path.join(home, "norvane", "Flickbook", "2.0")
    os.makedirs(folder, exist_ok=True)
    words = [10, 0, 32, 0, 0, 0x46E, 0x800000, 0, 7, 1, 0x880001, 0, 20, 0, 100, 0, 1, 0, 0]
    lines = ["Flickbook settings 1"]
    if handler is None:
        words[6] |= 0x80000
    else:
        lines.append("AVICompress=binary:" + struct.pack(
            "<4s4s9I", b"\0\0\0\0", handler.encode(), 1500, 10000, 0, flags, 0, 0, 0, 0, 0).hex())
    lines.append("Pref=binary:" + struct.pack("<19I", *words).hex())
    lines.append("NPref=dword:00000013")
    with open(os.path.join(folder, "settings"), "w") as f:
        f.write("\n".join(lines) + "\n")
    env = dict(os.environ)
    env["XDG_CONFIG_HOME"] = home
    return env


def main():
    args = sys.argv[1:]
    runs = 3
    if "--runs" in args:
        i = args.index("--runs")
        runs = int(args[i + 1])
        del args[i:i + 2]
    build = args[0] if args else os.path.join(ROOT, "build")
    fbinfo = os.path.join(build, "tools", "fbinfo")
    with tempfile.TemporaryDirectory() as tmp:
        ours = [("ours none", settings(tmp, "none")),
                ("ours RLE8", settings(tmp, "rle8", "mrle", 4)),
                ("ours Video 1", settings(tmp, "msvc", "msvc", 0))]
        print("export                          bytes      seconds")
        totals = {}
        exported = set()
        for gif in sorted(glob.glob(os.path.join(ROOT, "tests", "data", "gif-real", "*.gif"))):
            name = os.path.splitext(os.path.basename(gif))[0]
            print(name)
            for label, env in ours:
                out = os.path.join(tmp, "out.avi")
                t = timed([fbinfo, "--quiet", "--unoptimize", "--write", out, gif], env, runs)
                if t is None:  # local palettes: the fix merges them instead
                    t = timed([fbinfo, "--quiet", "--write", out, gif], env, runs)
                if t is None:
                    # Both local palettes and several transparent indexes:
                    # "Fix for AVI" refuses, as it does in the editor.
                    print(f"  {label:<22}  (not exported: the fix refuses this animation)")
                    continue
                size = os.path.getsize(out)
                print(f"  {label:<22}{size:>12}  {t:8.3f}")
                totals.setdefault(label, [0, 0.0])
                totals[label][0] += size
                totals[label][1] += t
                exported.add(name)
            for label, codec in (("ffmpeg raw pal8", ["-c:v", "rawvideo", "-pix_fmt", "pal8"]),
                                 ("ffmpeg Video 1", ["-c:v", "msvideo1"])):
                out = os.path.join(tmp, "ff.avi")
                t = timed(["ffmpeg", "-v", "error", "-y", "-i", gif, "-vf",
                           "pad=ceil(iw/4)*4:ceil(ih/4)*4", *codec, out], None, runs)
                size = os.path.getsize(out) if t is not None else 0
                print(f"  {label:<22}{size:>12}  {t if t is not None else float('nan'):8.3f}")
                if name in exported:  # totals over the files both wrote
                    totals.setdefault(label, [0, 0.0])
                    totals[label][0] += size
                    totals[label][1] += t or 0
        print("total over the files both wrote")
        for label, (size, t) in totals.items():
            print(f"  {label:<22}{size:>12}  {t:8.3f}")

        print("\nimport (640x360, 10 s at 25 fps)        seconds")
        for name, codec in (("mjpeg", ["-c:v", "mjpeg", "-q:v", "3"]),
                            ("mpeg4", ["-c:v", "mpeg4", "-q:v", "3"]),
                            ("msvideo1", ["-c:v", "msvideo1"]),
                            ("raw pal8", ["-c:v", "rawvideo", "-pix_fmt", "pal8"])):
            src = os.path.join(tmp, name.replace(" ", "-") + ".avi")
            subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                            "testsrc2=size=640x360:rate=25:duration=10", *codec, src], check=True)
            t_ours = timed([fbinfo, "--quiet", src], settings(tmp, "none"), runs)
            t_ff = timed(["ffmpeg", "-v", "error", "-i", src, "-f", "null", "-"], None, runs)
            print(f"  {name:<12} ours {t_ours:8.3f}   ffmpeg decode {t_ff:8.3f}")


if __name__ == "__main__":
    main()
