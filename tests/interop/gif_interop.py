#!/usr/bin/python3
"""GIF interop against other programs.

  gif_interop.py read FBINFO DIR...
      Every frame's own image, as our reader decodes it, equals the raw frame
      ImageMagick decodes (`convert FILE frame-%d.png` keeps raw frames, and
      `identify` their offsets), for GIFs made by other encoders.

  gif_interop.py write FBINFO DIR...
      Every GIF we read completely is written back by us; the file is read by
      gifsicle --info, ImageMagick and Pillow without a warning, and its frames
      equal ours (raw frames against ImageMagick; frame count, delays, loop and
      the opaque pixels of every composited picture against Pillow).
"""
import glob
import json
import os
import subprocess
import sys
import tempfile

from PIL import Image


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, **kw)


def fbinfo_json(fbinfo, path, *opts):
    r = run([fbinfo, *opts, path])
    if r.returncode != 0:
        return None
    return json.loads(r.stdout)


def frames_of(doc):
    return [b for b in doc["blocks"] if b["type"] == "frame"]


def compare_raw_with_imagemagick(fbinfo, path, tmp):
    """Problems found comparing our frames of `path` with ImageMagick's."""
    problems = []
    ours = os.path.join(tmp, "ours")
    theirs = os.path.join(tmp, "theirs")
    os.makedirs(theirs, exist_ok=True)
    doc = fbinfo_json(fbinfo, path, "--raw", ours)
    if doc is None:
        return ["fbinfo cannot read it"]
    frames = frames_of(doc)
    # -strip: colour profiles kept in the GIF are not for the PNGs.
    r = run(["convert", path, "-strip", os.path.join(theirs, "frame-%d.png")])
    if r.returncode != 0 or r.stderr.strip():
        return ["ImageMagick: " + r.stderr.strip()]
    pages = run(["identify", "-format", "%X %Y %w %h\n", path]).stdout.split("\n")
    pages = [tuple(int(v) for v in p.split()) for p in pages if p.strip()]
    if len(pages) != len(frames):
        return [f"{len(frames)} frames, ImageMagick {len(pages)}"]
    for i, f in enumerate(frames):
        if pages[i] != (f["left"], f["top"], f["width"], f["height"]):
            problems.append(f"frame {i}: placed {(f['left'], f['top'], f['width'], f['height'])}"
                            f" vs {pages[i]}")
            continue
        theirs_im = Image.open(os.path.join(theirs, f"frame-{i}.png")).convert("RGBA")
        mine = Image.open(os.path.join(ours, "frame-%04d.png" % i)).convert("RGBA")
        a, b = list(mine.getdata()), list(theirs_im.getdata())
        diff = sum(1 for p, q in zip(a, b) if p != q and not (p[3] == 0 and q[3] == 0))
        if diff:
            problems.append(f"frame {i}: {diff} pixels differ")
    return problems


def open_in_pillow(path, frames):
    """(image, []) when Pillow opens `path` with `frames` frames, else (None, problems)."""
    try:
        im = Image.open(path)
        n = getattr(im, "n_frames", 1)
    except Exception as e:  # noqa: BLE001 - any refusal is the finding
        return None, [f"Pillow cannot read it: {e}"]
    if n != frames:
        return None, [f"{frames} frames, Pillow {n}"]
    return im, []


def compare_with_pillow(fbinfo, path, tmp):
    problems = []
    pics = os.path.join(tmp, "pictures")
    raw = os.path.join(tmp, "raw")
    doc = fbinfo_json(fbinfo, path, "--frames", pics, "--raw", raw)
    frames = frames_of(doc)
    im, refused = open_in_pillow(path, len(frames))
    if im is None:
        return refused
    loop = im.info.get("loop")
    want_loop = None if doc["playCount"] == 1 else (0 if doc["playCount"] == 0 else doc["playCount"] - 1)
    if len(frames) > 1 and loop != want_loop:
        problems.append(f"loop {want_loop}, Pillow {loop}")
    for i, f in enumerate(frames):
        im.seek(i)
        if im.info.get("duration", 0) != f["delay"] * 10:
            problems.append(f"frame {i}: delay {f['delay'] * 10} ms, Pillow {im.info.get('duration')}")
        theirs = im.convert("RGBA")
        if theirs.size != (doc["width"], doc["height"]):
            problems.append(f"frame {i}: size {theirs.size}, screen {doc['width']}x{doc['height']}")
            continue
        if f["width"] == 0 or f["height"] == 0:
            continue
        # The frame's own visible pixels show on Pillow's picture where it
        # placed them; what the rest of the screen shows is a matter of rules.
        own = Image.open(os.path.join(raw, "frame-%04d.png" % i)).convert("RGBA")
        diff = 0
        tp = theirs.load()
        for y in range(own.height):
            for x in range(own.width):
                p = own.getpixel((x, y))
                sx, sy = f["left"] + x, f["top"] + y
                if p[3] == 255 and sx < theirs.width and sy < theirs.height and tp[sx, sy] != p:
                    diff += 1
        if diff:
            problems.append(f"frame {i}: {diff} of its pixels differ on Pillow's picture")
    return problems


def report(name, problems):
    """Prints one result line (and the first problems); True when it failed."""
    if problems:
        print(f"FAIL {name}:")
        for p in problems[:5]:
            print("     " + p)
        return True
    print(f"ok   {name}")
    return False


# Test files whose content is itself invalid, kept as it is by the writer:
# other programs complain about the original already.
INVALID_CONTENT = {
    "invalid-code.gif", "invalid-colors.gif",  # indices beyond the colour table
    "loop-animexts.gif",  # another application's loop block, kept verbatim
    "max-width.gif", "max-height.gif", "max-size.gif",  # 65535-pixel screens
    "no-data.gif",  # no image at all
    "zero-width.gif", "zero-height.gif", "zero-size.gif",  # an empty screen
}


def gif_files(dirs):
    """The GIFs of `dirs`, sorted (there must be some)."""
    files = sorted(f for d in dirs for f in glob.glob(os.path.join(d, "*.gif")))
    assert files, "no GIFs"
    return files


def main():
    mode, fbinfo, dirs = sys.argv[1], sys.argv[2], sys.argv[3:]
    files = gif_files(dirs)
    failures = checked = 0
    for path in files:
        with tempfile.TemporaryDirectory() as tmp:
            if mode == "write" and os.path.basename(path) in INVALID_CONTENT:
                continue
            if mode == "read":
                problems = compare_raw_with_imagemagick(fbinfo, path, tmp)
            else:
                first = fbinfo_json(fbinfo, path)
                if first is None or first["result"] != 1:
                    continue  # only documents we read completely are written back
                out = os.path.join(tmp, "out.gif")
                r = run([fbinfo, "--quiet", "--write", out, path])
                if r.returncode != 0:
                    problems = ["cannot write: " + r.stderr.strip()]
                else:
                    problems = []
                    g = run(["gifsicle", "--info", out])
                    if g.returncode != 0 or g.stderr.strip():
                        problems.append("gifsicle: " + g.stderr.strip())
                    problems += compare_raw_with_imagemagick(fbinfo, out, os.path.join(tmp, "im"))
                    problems += compare_with_pillow(fbinfo, out, tmp)
            checked += 1
            failures += report(path, problems)
    print(f"{checked - failures}/{checked} files agree")
    sys.exit(1 if failures or not checked else 0)


if __name__ == "__main__":
    main()
