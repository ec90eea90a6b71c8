#!/usr/bin/python3
"""Frame transforms against ImageMagick.

  transform_interop.py FBINFO DIR
      For each GIF of DIR named below (one of each kind: full frames, frames
      drawing only what changed, transparency, sprites, local palettes), each
      transform of the whole animation that
      ImageMagick defines the same way gives, picture by picture, what
      ImageMagick gives by applying its operator to the composited pictures
      (`convert FILE -coalesce OP`, all of one file's in one run):
        --rotate 90|180|270      -rotate 90|180|270
        --flip h, --flip v       -flop, -flip
        --crop X,Y,W,H           -crop WxH+X+Y
        --resize WxH             -sample WxH!   (nearest pixel: the old pixel
                                                 under each new pixel's centre)
      and a chain of them. Pixels transparent in both may differ in colour.
      Bicubic resizing is not compared: ours maps the result back into each
      frame's palette, ImageMagick's keeps every colour it makes.
"""
import glob
import os
import subprocess
import sys
import tempfile

from PIL import Image


FILES = (
    "cellauto-ffmpeg.gif",
    "life-ffmpeg.gif",
    "mandelbrot-gifsicle-O3.gif",
    "screen-sprite-ffmpeg.gif",
    "testsrc-localpal-ffmpeg.gif",
    "testsrc2-im-optimized.gif",
)


def run(cmd):
    return subprocess.run(cmd, capture_output=True, text=True)


def screen_size(path):
    out = run(["identify", "-format", "%W %H\n", path]).stdout.split("\n")[0]
    w, h = (int(v) for v in out.split())
    return w, h


def cases(w, h):
    """(our options, ImageMagick's operators) for a w × h screen."""
    cx, cy, cw, ch = w // 5, h // 7, w // 2, h // 3
    sw, sh = w * 2 // 3 + 1, h * 3 // 2  # wider one way, narrower the other
    return [
        (["--rotate", "90"], ["-rotate", "90"]),
        (["--rotate", "180"], ["-rotate", "180"]),
        (["--rotate", "270"], ["-rotate", "270"]),
        (["--flip", "h"], ["-flop"]),
        (["--flip", "v"], ["-flip"]),
        (["--crop", f"{cx},{cy},{cw},{ch}"], ["-crop", f"{cw}x{ch}+{cx}+{cy}"]),
        # A corner small enough that some frames have nothing left in it.
        (["--crop", f"0,{h - 9},9,9"], ["-crop", f"9x9+0+{h - 9}"]),
        (["--resize", f"{sw}x{sh}"], ["-sample", f"{sw}x{sh}!"]),
        (["--resize", f"{max(1, w // 3)}x{max(1, h // 4)}"],
         ["-sample", f"{max(1, w // 3)}x{max(1, h // 4)}!"]),
        (["--crop", f"{cx},{cy},{cw},{ch}", "--rotate", "270", "--flip", "h",
          "--resize", f"{ch * 2}x{cw}"],
         ["-crop", f"{cw}x{ch}+{cx}+{cy}", "+repage", "-rotate", "270", "-flop",
          "-sample", f"{ch * 2}x{cw}!"]),
    ]


def differing_pixels(a, b):
    if a.size != b.size:
        return -1
    da, db = a.tobytes(), b.tobytes()
    if da == db:
        return 0
    n = 0
    for i in range(0, len(da), 4):
        p, q = da[i:i + 4], db[i:i + 4]
        if p != q and not (p[3] == 0 and q[3] == 0):
            n += 1
    return n


def imagemagick(path, all_ops, tmp):
    """Every case's pictures from one ImageMagick run (the animation decoded and
    coalesced once), as raw RGBA files: writing PNGs was most of the time.
    Returns a folder per case, or an error text."""
    folders = [tempfile.mkdtemp(dir=tmp) for _ in all_ops]
    cmd = ["convert", path, "-coalesce", "+repage", "-write", "mpr:pictures", "+delete",
           "-depth", "8"]
    for ops, folder in zip(all_ops, folders):
        cmd += ["(", "mpr:pictures", *ops, "+repage", "-write",
                "RGBA:" + os.path.join(folder, "frame-%04d.rgba"), "+delete", ")"]
    r = run(cmd + ["null:"])
    if r.returncode != 0:
        return "ImageMagick: " + r.stderr.strip()
    return folders


def check(fbinfo, path, ours_opts, theirs, tmp):
    ours = tempfile.mkdtemp(dir=tmp)
    r = run([fbinfo, "--quiet", *ours_opts, "--frames", ours, path])
    if r.returncode != 0:
        return [f"fbinfo failed: {r.stderr.strip()}"]
    mine = sorted(glob.glob(os.path.join(ours, "*.png")))
    other = sorted(glob.glob(os.path.join(theirs, "*.rgba")))
    if len(mine) != len(other):
        return [f"{len(mine)} pictures, ImageMagick {len(other)}"]
    problems = []
    for i, (m, o) in enumerate(zip(mine, other)):
        a = Image.open(m).convert("RGBA")
        with open(o, "rb") as f:
            raw = f.read()
        if len(raw) != a.size[0] * a.size[1] * 4:
            problems.append(f"picture {i}: size {a.size}, ImageMagick {len(raw) // 4} pixels")
        else:
            d = differing_pixels(a, Image.frombytes("RGBA", a.size, raw))
            if d:
                problems.append(f"picture {i}: {d} pixels differ")
        if len(problems) > 3:
            break
    return problems


def main():
    fbinfo, folder = sys.argv[1], sys.argv[2]
    failures = 0
    checked = 0
    with tempfile.TemporaryDirectory() as tmp:
        for path in (os.path.join(folder, name) for name in FILES):
            w, h = screen_size(path)
            all_cases = cases(w, h)
            theirs = imagemagick(path, [ops for _, ops in all_cases], tmp)
            for (ours, _), expected in zip(all_cases, theirs if isinstance(theirs, list) else []):
                problems = check(fbinfo, path, ours, expected, tmp)
                checked += 1
                if problems:
                    failures += 1
                    print(f"FAIL {os.path.basename(path)} {' '.join(ours)}: "
                          + "; ".join(problems))
            if not isinstance(theirs, list):
                failures += 1
                print(f"FAIL {os.path.basename(path)}: {theirs}")
    print(f"{checked - failures} of {checked} transforms match ImageMagick")
    return 1 if failures or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
