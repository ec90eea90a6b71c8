#!/usr/bin/python3
"""True-colour frames inserted under every palette-merge method read back
as expected by other programs.

  truecolour_interop.py TRUECOLOUR_GIFS

Runs the generator into a temporary folder, then for every case:
  - gifsicle --info reads the GIF without a warning;
  - every composited picture Pillow and ImageMagick (-coalesce) decode equals
    ours, pixel for pixel;
  - the inserted pictures show the original true-colour frames: exactly where
    the method keeps colours (adaptive, merge and local palettes when the
    colours fit), and otherwise within a PSNR floor; transparent pixels
    (alpha below 128) show the picture before them.
"""
import json
import math
import os
import subprocess
import sys
import tempfile

from PIL import Image

# PSNR floors (dB) where colours may change: measured values are printed.
# ("map" maps to the document's 16 greys, so its pictures lose their hues.)
FLOOR = {"adaptive": 29, "merge": 28, "map": 10, "cube": 23, "fixed": 19, "local": 30}
FLOOR_DITHER = {"adaptive": 27, "merge": 25, "map": 10, "cube": 20, "fixed": 16, "local": 28}


def read(path):
    with open(path, "rb") as f:
        return f.read()


def pillow_pictures(path, n, w, h):
    im = Image.open(path)
    assert im.n_frames == n, f"Pillow sees {im.n_frames} frames, we wrote {n}"
    out = []
    for k in range(n):
        im.seek(k)
        out.append(im.convert("RGBA").tobytes())
    return out


def imagemagick_pictures(path, n, w, h):
    raw = subprocess.run(["/usr/bin/convert", path, "-coalesce", "-depth", "8", "rgba:-"],
                         check=True, capture_output=True).stdout
    size = w * h * 4
    assert len(raw) == n * size, f"ImageMagick decodes {len(raw) // size} pictures, we wrote {n}"
    return [raw[k * size:(k + 1) * size] for k in range(n)]


def compare_opaque(ours, theirs, who, name, k):
    """Every pixel we show opaque, they show the same; transparent stays transparent."""
    bad = 0
    for i in range(0, len(ours), 4):
        if ours[i + 3] == 255:
            if theirs[i + 3] != 255 or ours[i:i + 3] != theirs[i:i + 3]:
                bad += 1
        elif theirs[i + 3] != 0 and ours[i + 3] == 0:
            bad += 1
    assert bad == 0, f"{name} picture {k}: {bad} pixels differ from {who}"


def psnr(picture, original):
    se, n = 0, 0
    for i in range(0, len(original), 4):
        if original[i + 3] < 128:
            continue
        for c in range(3):
            d = picture[i + c] - original[i + c]
            se += d * d
        n += 3
    return 99.0 if se == 0 else 10 * math.log10(255 * 255 / (se / n))


def check_inserted(name, case, pictures, original, k, exact):
    pic, before = pictures[k], pictures[k - 1]
    for i in range(0, len(original), 4):
        if original[i + 3] < 128:
            assert pic[i:i + 4] == before[i:i + 4], \
                f"{name} picture {k}: a transparent pixel does not show the picture before"
        elif exact:
            assert pic[i:i + 3] == original[i:i + 3], \
                f"{name} picture {k}: colour {tuple(pic[i:i + 3])} instead of {tuple(original[i:i + 3])}"
    value = psnr(pic, original)
    floor = (FLOOR_DITHER if case["dither"] else FLOOR)[case["method"]]
    print(f"  {name:24} picture {k}: PSNR {value:5.1f} dB{' (exact)' if exact else ''}")
    assert exact or value >= floor, f"{name} picture {k}: PSNR {value:.1f} below {floor}"


def main():
    generator = sys.argv[1]
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run([generator, tmp], check=True)
        cases = json.loads(read(os.path.join(tmp, "cases.json")))
        flat = read(os.path.join(tmp, "flat.rgba"))
        photo = read(os.path.join(tmp, "photo.rgba"))
        assert len(cases) == 24
        for case in cases:
            name, n, w, h = case["name"], case["frames"], case["width"], case["height"]
            gif = os.path.join(tmp, name + ".gif")
            info = subprocess.run(["gifsicle", "--info", gif], capture_output=True, text=True)
            assert info.returncode == 0 and not info.stderr.strip(), f"{name}: gifsicle: {info.stderr}"
            ours = [read(os.path.join(tmp, f"{name}-{k}.rgba")) for k in range(n)]
            for who, pictures in (("Pillow", pillow_pictures(gif, n, w, h)),
                                  ("ImageMagick", imagemagick_pictures(gif, n, w, h))):
                for k in range(n):
                    compare_opaque(ours[k], pictures[k], who, name, k)
            assert n == (4 if case["photo"] else 3), f"{name}: {n} pictures"
            method = case["method"]
            # The flat frame's 40 colours fit wherever colours are kept; with the
            # photo in the same palette only the merge and local methods keep them.
            flat_exact = method in ("merge", "local") or (method == "adaptive" and not case["photo"])
            check_inserted(name, case, ours, flat, 1, flat_exact)
            if case["photo"]:
                check_inserted(name, case, ours, photo, 2, False)
    print(f"{len(cases)} cases read alike by Pillow, ImageMagick and gifsicle")


if __name__ == "__main__":
    main()
