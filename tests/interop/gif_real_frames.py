#!/usr/bin/python3
"""Every frame's own image, as our reader decodes it, equals the raw frame
ImageMagick decodes (`convert FILE frame-%d.png` keeps raw frames with their
offsets), for the GIFs made by other encoders."""
import glob
import json
import os
import subprocess
import sys
import tempfile

from PIL import Image


def main():
    fbinfo, folder = sys.argv[1], sys.argv[2]
    files = sorted(glob.glob(os.path.join(folder, "*.gif")))
    assert files, "no GIFs in " + folder
    failures = 0
    for path in files:
        with tempfile.TemporaryDirectory() as tmp:
            ours = os.path.join(tmp, "ours")
            theirs = os.path.join(tmp, "theirs")
            os.mkdir(theirs)
            out = subprocess.run([fbinfo, "--raw", ours, path], check=True,
                                 capture_output=True, text=True).stdout
            doc = json.loads(out)
            frames = [b for b in doc["blocks"] if b["type"] == "frame"]
            subprocess.run(["convert", path, os.path.join(theirs, "frame-%d.png")], check=True)
            count = len(glob.glob(os.path.join(theirs, "*.png")))
            # ImageMagick keeps each frame's own size and its offset on the page.
            pages = subprocess.run(["identify", "-format", "%X %Y %w %h\n", path], check=True,
                                   capture_output=True, text=True).stdout.split("\n")
            pages = [tuple(int(v) for v in p.split()) for p in pages if p.strip()]
            if count != len(frames) or doc["result"] != 1:
                print(f"FAIL {path}: {len(frames)} frames (result {doc['result']}), "
                      f"ImageMagick {count}")
                failures += 1
                continue
            bad = 0
            for i, f in enumerate(frames):
                if pages[i] != (f["left"], f["top"], f["width"], f["height"]):
                    print(f"FAIL {path} frame {i}: placed {f['left'], f['top'], f['width'], f['height']}"
                          f" vs {pages[i]}")
                    bad += 1
                    continue
                im = Image.open(os.path.join(theirs, f"frame-{i}.png")).convert("RGBA")
                mine = Image.open(os.path.join(ours, "frame-%04d.png" % i)).convert("RGBA")
                if im.size != mine.size:
                    print(f"FAIL {path} frame {i}: size {mine.size} vs {im.size}")
                    bad += 1
                    continue
                a, b = list(mine.getdata()), list(im.getdata())
                diff = sum(1 for p, q in zip(a, b)
                           if p != q and not (p[3] == 0 and q[3] == 0))
                if diff:
                    print(f"FAIL {path} frame {i}: {diff} pixels differ")
                    bad += 1
            if bad:
                failures += 1
            else:
                print(f"ok   {path}: {len(frames)} frames")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
