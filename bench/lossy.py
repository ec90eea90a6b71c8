#!/usr/bin/python3
"""Lossy LZW: bytes against picture quality, ours against gifsicle --lossy.

  bench/lossy.py [BUILD_DIR] [--plot FILE.png]

For the GIFs of tests/data/gif-real and the generated animations of
bench/optimize.py, each optimizer writes the files at several strengths:
ours with the best lossless options (no frame removal, so every picture has
a partner) and `--lossy N`, gifsicle with `-O3 --lossy=N`. The quality of a
strength is the PSNR (dB, RGB) of the composited pictures against the
original's along the time line (each weighted by how long it shows), over
all files together; its size is the total of the bytes.
The curves go to a PNG plot (bytes against PSNR). The last line is the ratio
of our bytes to gifsicle's at equal PSNR (our curve read off at each of
gifsicle's points inside its range; the geometric mean):

  lossy-bytes-vs-gifsicle-at-equal-psnr RATIO
"""
import glob
import json
import math
import os
import subprocess
import sys
import tempfile

from PIL import Image, ImageChops, ImageDraw

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import optimize  # noqa: E402  (its generated animations)

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OURS_STRENGTHS = [0, 10, 20, 40, 80, 160]
GIFSICLE_STRENGTHS = [0, 20, 40, 80, 160, 200]
# The best lossless options without removing frames: crop, transparency, local
# palettes removed where they fit, palettes shrunk, the smallest layout.
OURS_OPTIONS = "0x102E"


def pictures(fbinfo, path, directory):
    """Our composited pictures of `path` with how long each shows: [(png, ticks)]."""
    r = subprocess.run([fbinfo, "--frames", directory, path], check=True, capture_output=True,
                       text=True)
    delays = [max(1, b["delay"]) for b in json.loads(r.stdout)["blocks"] if b["type"] == "frame"]
    pngs = sorted(glob.glob(os.path.join(directory, "frame-*.png")))
    return list(zip(pngs, delays))


def squared_error(a_path, b_path):
    """(sum of squared differences, samples) over RGB."""
    a = Image.open(a_path).convert("RGB")
    b = Image.open(b_path).convert("RGB")
    if a.size != b.size:
        raise ValueError(f"{a_path}: size {a.size} vs {b.size}")
    hist = ImageChops.difference(a, b).histogram()
    sse = sum(count * (i % 256) ** 2 for i, count in enumerate(hist))
    return sse, a.size[0] * a.size[1] * 3


def measure(fbinfo, files, references, tmp, command):
    """(total bytes, PSNR) of `command(input, output)` over the files."""
    total_bytes = total_sse = total_samples = 0
    for i, path in enumerate(files):
        out = os.path.join(tmp, "out.gif")
        subprocess.run(command(path, out), check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        total_bytes += os.path.getsize(out)
        directory = tempfile.mkdtemp(dir=tmp)
        got = pictures(fbinfo, out, directory)
        want = references[i]
        # Along the time line: an optimizer may join pictures that show the
        # same, adding up their times.
        a = b = 0
        left_a, left_b = want[0][1], got[0][1]
        errors = {}
        while a < len(want) and b < len(got):
            step = min(left_a, left_b)
            key = (want[a][0], got[b][0])
            if key not in errors:
                errors[key] = squared_error(*key)
            sse, n = errors[key]
            total_sse += sse * step
            total_samples += n * step
            left_a -= step
            left_b -= step
            if left_a == 0:
                a += 1
                left_a = want[a][1] if a < len(want) else 0
            if left_b == 0:
                b += 1
                left_b = got[b][1] if b < len(got) else 0
    mse = total_sse / total_samples
    return total_bytes, (99.0 if mse == 0 else 10 * math.log10(255 * 255 / mse))


def read_off(curve, psnr):
    """Bytes of a (bytes, PSNR) curve at `psnr`, log-linear between points; None outside."""
    points = sorted(curve, key=lambda p: p[1])
    for (b0, q0), (b1, q1) in zip(points, points[1:]):
        if q0 <= psnr <= q1:
            if q1 == q0:
                return min(b0, b1)
            t = (psnr - q0) / (q1 - q0)
            return math.exp(math.log(b0) + t * (math.log(b1) - math.log(b0)))
    return None


def plot(path, curves):
    w, h, margin = 900, 560, 70
    img = Image.new("RGB", (w, h), "white")
    d = ImageDraw.Draw(img)
    # Lossless points have no PSNR to place them at: the curves start after.
    curves = [(name, colour, [p for p in pts if p[1] < 99]) for name, colour, pts in curves]
    every = [p for _, _, pts in curves for p in pts]
    qs = [p[1] for p in every]
    bs = [p[0] for p in every]
    qlo, qhi = min(qs) - 0.5, max(qs) + 0.5
    blo, bhi = 0, max(bs) * 1.05

    def xy(b, q):
        q = min(q, qhi)
        return (margin + (q - qlo) / (qhi - qlo) * (w - 2 * margin),
                h - margin - (b - blo) / (bhi - blo) * (h - 2 * margin))

    d.rectangle([margin, margin, w - margin, h - margin], outline="black")
    for k in range(6):
        q = qlo + (qhi - qlo) * k / 5
        x, _ = xy(0, q)
        d.text((x - 12, h - margin + 8), f"{q:.1f}", fill="black")
        b = blo + (bhi - blo) * k / 5
        _, y = xy(b, qlo)
        d.text((4, y - 6), f"{b / 1e6:.2f} MB", fill="black")
    d.text((w // 2 - 60, h - 30), "PSNR (dB, RGB)", fill="black")
    d.text((margin, 20), "total bytes against picture quality, lossy LZW", fill="black")
    for i, (name, colour, pts) in enumerate(curves):
        pts = sorted(pts, key=lambda p: p[1])
        line = [xy(b, q) for b, q in pts]
        d.line(line, fill=colour, width=2)
        for x, y in line:
            d.ellipse([x - 4, y - 4, x + 4, y + 4], outline=colour, width=2)
        d.text((w - margin - 250, margin + 10 + 16 * i), name, fill=colour)
    img.save(path)


def main():
    args = sys.argv[1:]
    plot_path = None
    if "--plot" in args:
        i = args.index("--plot")
        plot_path = args[i + 1]
        del args[i:i + 2]
    build = args[0] if args else os.path.join(ROOT, "build")
    fbinfo = os.path.join(build, "tools", "fbinfo")
    plot_path = plot_path or os.path.join(build, "lossy.png")
    with tempfile.TemporaryDirectory() as tmp:
        files = sorted(glob.glob(os.path.join(ROOT, "tests", "data", "gif-real", "*.gif")))
        files += optimize.make_inputs(tmp)
        references = [pictures(fbinfo, f, tempfile.mkdtemp(dir=tmp)) for f in files]
        ours, theirs = [], []
        print(f"{'':10} {'strength':>8} {'bytes':>12} {'PSNR':>7}")
        for s in OURS_STRENGTHS:
            b, q = measure(fbinfo, files, references, tmp, lambda i, o, s=s: [
                fbinfo, "--quiet", "--lossy", str(s), "--optimize-options", OURS_OPTIONS,
                "--write", o, i])
            ours.append((b, q))
            print(f"{'flickbook':10} {s:>8} {b:>12} {q:7.2f}", flush=True)
        for s in GIFSICLE_STRENGTHS:
            b, q = measure(fbinfo, files, references, tmp, lambda i, o, s=s: [
                "gifsicle", "-O3", f"--lossy={s}", i, "-o", o] if s else [
                "gifsicle", "-O3", i, "-o", o])
            theirs.append((b, q))
            print(f"{'gifsicle':10} {s:>8} {b:>12} {q:7.2f}", flush=True)
    plot(plot_path, [("flickbook --lossy N", (200, 40, 40), ours),
                     ("gifsicle -O3 --lossy=N", (40, 80, 200), theirs)])
    print(f"plot: {plot_path}")
    ratios = []
    for b, q in theirs:
        if q >= 99:
            continue  # lossless: not a point on the trade-off
        mine = read_off(ours, q)
        if mine is not None:
            ratios.append(mine / b)
            print(f"at {q:.2f} dB: ours {mine:.0f} bytes, gifsicle {b} ({mine / b:.3f})")
    if not ratios:
        print("the curves do not overlap")
        sys.exit(1)
    ratio = math.exp(sum(math.log(r) for r in ratios) / len(ratios))
    print(f"lossy-bytes-vs-gifsicle-at-equal-psnr {ratio:.3f}")


if __name__ == "__main__":
    main()
