#!/usr/bin/python3
"""The smallest LZW layout reads the same in every peer decoder.

  smallest_interop.py FBINFO GIFLIB_FRAMES DIR...

Every GIF we read completely is written twice with the smallest layout: as it
is, and after the best lossless optimization. Each output's frames, as our
reader decodes them, must equal what giflib (GIFLIB_FRAMES), ImageMagick and
Pillow decode, and what gifsicle decodes (made to re-encode every frame by
interlacing it, then read back by us); gifsicle must not warn. The first
output's frames must also equal the original file's.
"""
import concurrent.futures
import os
import subprocess
import sys
import tempfile

from PIL import Image, ImageChops

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gif_interop  # noqa: E402

VARIANTS = [
    ("as it is", ["--smallest-layout"]),
    ("best", ["--optimize=best", "--smallest-layout"]),
]


def run(cmd):
    return subprocess.run(cmd, capture_output=True, text=True)


def raw_frames(fbinfo, path, directory):
    """Our frames of `path`: [(left, top, width, height)] with PNGs in `directory`."""
    doc = gif_interop.fbinfo_json(fbinfo, path, "--raw", directory)
    if doc is None:
        return None
    return [(f["left"], f["top"], f["width"], f["height"]) for f in gif_interop.frames_of(doc)]


def visible(im):
    """RGBA with every fully transparent pixel made (0, 0, 0, 0)."""
    im = im.convert("RGBA")
    clear = Image.new("RGBA", im.size, (0, 0, 0, 0))
    return Image.composite(im, clear, im.getchannel("A").point(lambda v: 255 if v else 0))


def differing(a, b):
    """Pixels that differ between two RGBA pictures of one size."""
    if a.tobytes() == b.tobytes():
        return 0
    diff = ImageChops.difference(a, b).convert("L").point(lambda v: 255 if v else 0)
    return sum(diff.histogram()[1:])


def same_pictures(dir_a, dir_b, count):
    """Frames whose pixels differ (fully transparent pixels all count as equal)."""
    problems = []
    for i in range(count):
        name = "frame-%04d.png" % i
        a_path, b_path = os.path.join(dir_a, name), os.path.join(dir_b, name)
        if not os.path.exists(a_path) and not os.path.exists(b_path):
            continue  # an empty frame
        if not (os.path.exists(a_path) and os.path.exists(b_path)):
            problems.append(f"frame {i}: present on one side only")
            continue
        a, b = visible(Image.open(a_path)), visible(Image.open(b_path))
        if a.size != b.size:
            problems.append(f"frame {i}: size {a.size} vs {b.size}")
        elif differing(a, b):
            problems.append(f"frame {i}: {differing(a, b)} pixels differ")
    return problems


def imagemagick(out, ours_dir, ours, tmp):
    """ImageMagick's raw frames of `out` against ours."""
    theirs = os.path.join(tmp, "im")
    os.makedirs(theirs, exist_ok=True)
    r = run(["convert", out, "-strip", os.path.join(theirs, "frame-%04d.png")])
    if r.returncode != 0 or r.stderr.strip():
        return ["ImageMagick: " + r.stderr.strip()]
    pages = run(["identify", "-format", "%X %Y %w %h\n", out]).stdout.split("\n")
    pages = [tuple(int(v) for v in p.split()) for p in pages if p.strip()]
    if pages != ours:
        return [f"ImageMagick places frames differently: {pages[:3]} vs {ours[:3]}"]
    return ["ImageMagick: " + p for p in same_pictures(ours_dir, theirs, len(ours))]


def pillow(out, ours_dir, ours):
    """Each frame's opaque pixels, as we decode them, on Pillow's pictures."""
    im, refused = gif_interop.open_in_pillow(out, len(ours))
    if im is None:
        return refused
    problems = []
    for i, (left, top, w, h) in enumerate(ours):
        im.seek(i)
        path = os.path.join(ours_dir, "frame-%04d.png" % i)
        if w == 0 or h == 0 or not os.path.exists(path):
            continue
        own = Image.open(path).convert("RGBA")
        shown = im.convert("RGBA").crop((left, top, left + w, top + h))
        opaque = own.getchannel("A").point(lambda v: 255 if v == 255 else 0)
        blank = Image.new("RGBA", own.size, (0, 0, 0, 0))
        diff = differing(Image.composite(own, blank, opaque), Image.composite(shown, blank, opaque))
        if diff:
            problems.append(f"Pillow: frame {i}: {diff} of its pixels differ")
    return problems


def check(fbinfo, giflib, path, opts, tmp, original):
    out = os.path.join(tmp, "out.gif")
    r = run([fbinfo, "--quiet", *opts, "--write", out, path])
    if r.returncode != 0:
        return ["cannot write: " + r.stderr.strip()]
    ours_dir = os.path.join(tmp, "ours")
    ours = raw_frames(fbinfo, out, ours_dir)
    if ours is None:
        return ["we cannot read our own file"]
    problems = []
    if original is not None:
        geometry, original_dir = original
        if geometry != ours:
            problems.append("frames placed unlike the original's")
        else:
            problems += ["against the original: " + p
                         for p in same_pictures(original_dir, ours_dir, len(ours))]

    # giflib
    gdir = os.path.join(tmp, "giflib")
    g = run([giflib, out, gdir])
    if g.returncode != 0:
        problems.append("giflib: " + g.stderr.strip())
    else:
        placed = [tuple(int(v) for v in line.split()) for line in g.stdout.splitlines()]
        if placed != ours:
            problems.append(f"giflib places frames differently: {placed[:3]} vs {ours[:3]}")
        else:
            problems += ["giflib: " + p for p in same_pictures(ours_dir, gdir, len(ours))]

    # gifsicle: no warnings, and every frame decoded and encoded again
    info = run(["gifsicle", "--info", out])
    if info.returncode != 0 or info.stderr.strip():
        problems.append("gifsicle: " + info.stderr.strip())
    again = os.path.join(tmp, "again.gif")
    s = run(["gifsicle", "--interlace", out, "-o", again])
    # Writing it again may merge colour tables; only that may be said.
    said = [line for line in s.stderr.splitlines()
            if line.strip() and "too many colors" not in line and "--colors" not in line]
    if s.returncode != 0 or said:
        problems.append("gifsicle: " + " ".join(said))
    else:
        again_dir = os.path.join(tmp, "again")
        if raw_frames(fbinfo, again, again_dir) != ours:
            problems.append("gifsicle's copy places frames differently")
        else:
            problems += ["gifsicle: " + p for p in same_pictures(ours_dir, again_dir, len(ours))]

    problems += imagemagick(out, ours_dir, ours, tmp)
    problems += pillow(out, ours_dir, ours)
    return problems


def check_file(fbinfo, giflib, path):
    """[(label, problems)] for each variant of `path`; empty when it is not written back."""
    if os.path.basename(path) in gif_interop.INVALID_CONTENT:
        return []
    first = gif_interop.fbinfo_json(fbinfo, path)
    if first is None or first["result"] != 1:
        return []  # only documents we read completely are written back
    results = []
    with tempfile.TemporaryDirectory() as tmp:
        original_dir = os.path.join(tmp, "original")
        original = (raw_frames(fbinfo, path, original_dir), original_dir)
        for label, opts in VARIANTS:
            with tempfile.TemporaryDirectory() as work:
                results.append((label, check(fbinfo, giflib, path, opts, work,
                                             original if label == "as it is" else None)))
    return results


def main():
    fbinfo, giflib, dirs = sys.argv[1], sys.argv[2], sys.argv[3:]
    files = gif_interop.gif_files(dirs)
    failures = checked = 0
    # The work is other programs': a file per processor at a time.
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 1) as pool:
        every = pool.map(lambda path: check_file(fbinfo, giflib, path), files)
        for path, results in zip(files, every):
            for label, problems in results:
                checked += 1
                failures += gif_interop.report(f"{path} ({label})", problems)
    print(f"{checked - failures}/{checked} outputs read the same everywhere")
    sys.exit(1 if failures or not checked else 0)


if __name__ == "__main__":
    main()
