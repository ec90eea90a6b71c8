#!/usr/bin/python3
"""PNG and animated PNG interop against other programs.

  png_interop.py suite FBINFO DIR
      Every PngSuite file we read decodes to the pixels Pillow decodes (or to
      the suite's JSON expectation, where one is kept in DIR/json), with our
      documented rule for palettes: an entry that is not fully opaque is the
      frame's one transparent index. Every deliberately corrupt file (x*) is
      refused with "Error reading PNG data. File appears to be corrupt." and
      no crash.

  png_interop.py read FBINFO DIR
      Every animated PNG Pillow reads, we read with the same composited
      pictures (against the shipped reference pictures where DIR/reference has
      them), delays and play count; every one Pillow rejects, we refuse.

  png_interop.py write FBINFO APNG_DIR GIF_DIR...
      Every animation we read is written back as an animated PNG, which we,
      Pillow and ffmpeg read with the same pictures, delays and play count.
      GIFs go GIF -> APNG -> GIF and keep every picture and delay. GIFs an
      animated PNG cannot hold are refused with one clear message; gifsicle's
      unoptimized one-palette copies of them (which it can hold) go through.
"""
import glob
import json
import os
import struct
import subprocess
import sys
import tempfile

from PIL import Image

CORRUPT = "Error reading PNG data. File appears to be corrupt."
REFUSALS = (
    "Cannot save an animated PNG (APNG) with mixed resolutions.",
    "Cannot save an animated PNG (APNG) with local palettes.",
    "Cannot save an animated PNG (APNG) with a mix of transparent and non-transparent frames.",
    "Cannot save an animated PNG (APNG) with transparent frames that do not use the same "
    "transparent index.",
)


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, **kw)


def fbinfo(exe, path, *opts):
    """(returncode, json or None, stderr text). True-colour frames keep their
    24-bit data when they are mapped into palettes after reading."""
    r = run([exe, "--keep-24bit", *opts, path])
    doc = json.loads(r.stdout) if r.returncode == 0 and r.stdout.strip() else None
    return r.returncode, doc, r.stderr.decode("utf-8", "replace")


def frames_of(doc):
    return [b for b in doc["blocks"] if b["type"] == "frame"]


def pictures(exe, path, tmp):
    """Our composited pictures (RGBA pixel lists), the document, stderr."""
    out = tempfile.mkdtemp(dir=tmp)
    rc, doc, err = fbinfo(exe, path, "--frames", out)
    if rc != 0:
        return None, None, err
    files = sorted(glob.glob(os.path.join(out, "frame-*.png")))
    return [list(Image.open(f).convert("RGBA").getdata()) for f in files], doc, err


def same(p, q):
    """Pixels agree; the colour of a fully transparent pixel does not matter."""
    return p == q or (p[3] == 0 and q[3] == 0)


def count_differences(a, b):
    return sum(1 for p, q in zip(a, b) if not same(p, q)) + abs(len(a) - len(b))


# ---- suite ----

def pillow_rgba(path):
    im = Image.open(path)
    if im.mode.startswith("I"):
        # 16-bit grey: Pillow keeps the samples; 8 bits are their high byte.
        key = im.info.get("transparency")
        return [(v >> 8, v >> 8, v >> 8, 0 if v == key else 255) for v in im.getdata()], im
    return list(im.convert("RGBA").getdata()), im


def expected_from_json(path):
    with open(path) as f:
        values = json.load(f)
    return [tuple(values[i:i + 4]) for i in range(0, len(values), 4)]


def suite(exe, folder):
    files = sorted(glob.glob(os.path.join(folder, "*.png")))
    assert files, "no PNGs in " + folder
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        for path in files:
            name = os.path.basename(path)
            out = tempfile.mkdtemp(dir=tmp)
            rc, doc, err = fbinfo(exe, path, "--raw", out)
            if name.startswith("x"):
                if rc != 1 or CORRUPT not in err:
                    print(f"FAIL {name}: corrupt file not refused (exit {rc}): {err.strip()}")
                    failures += 1
                continue
            if rc != 0 or err.strip():
                print(f"FAIL {name}: exit {rc}: {err.strip()}")
                failures += 1
                continue
            mine = list(Image.open(os.path.join(out, "frame-0000.png")).convert("RGBA").getdata())
            stem = name[:-4]
            json_path = next((p for p in (os.path.join(folder, "json", stem + ".json"),
                                          os.path.join(folder, "json", stem + "_to8.json"))
                              if os.path.exists(p)), None)
            palette_alpha = False
            if json_path:
                expected, source = expected_from_json(json_path), "json"
                palette_alpha = Image.open(path).mode == "P"
            else:
                expected, im = pillow_rgba(path)
                source = "Pillow"
                palette_alpha = im.mode == "P"
            if palette_alpha:
                expected = [q if q[3] == 255 else (0, 0, 0, 0) for q in expected]
            if json_path and json_path.endswith("_to8.json"):
                # Those 8-bit reductions round; ours keeps the high byte.
                mine = [tuple(q[i] if abs(p[i] - q[i]) <= 1 else p[i] for i in range(4))
                        for p, q in zip(mine, expected)]
            bad = count_differences(mine, expected)
            if bad:
                print(f"FAIL {name}: {bad} pixels differ from {source}")
                failures += 1
            else:
                print(f"ok   {name} ({source})")
    print(f"{len(files)} files, {failures} failures")
    return failures


# ---- read ----

def read_nie(path):
    with open(path, "rb") as f:
        data = f.read()
    w, h = struct.unpack("<II", data[8:16])
    px = data[16:]
    return [(px[i + 2], px[i + 1], px[i], px[i + 3]) for i in range(0, 4 * w * h, 4)]


def references(folder, name):
    ref = os.path.join(folder, "reference")
    stem = name.rsplit(".", 1)[0]
    anim = sorted(glob.glob(os.path.join(ref, glob.escape(name) + ".anim_*.png")))
    if anim:
        return [list(Image.open(p).convert("RGBA").getdata()) for p in anim]
    nie = sorted(glob.glob(os.path.join(ref, glob.escape(stem) + ".0*.nie")))
    if nie:
        return [read_nie(p) for p in nie]
    return None


def pillow_animation(path):
    """Pillow's composited pictures (without a default image that is not part
    of the animation), durations in ms and loop; raises when Pillow rejects it."""
    im = Image.open(path)
    pics, durations, blends = [], [], []
    for i in range(getattr(im, "n_frames", 1)):
        im.seek(i)
        pics.append(list(im.convert("RGBA").getdata()))
        durations.append(im.info.get("duration", 0))
        blends.append(im.info.get("blend"))
    if im.info.get("default_image") and len(pics) > 1:
        pics, durations, blends = pics[1:], durations[1:], blends[1:]
    # Pillow 9 composites "over" with the wrong alpha where a partly
    # transparent pixel lands on an opaque one: the result is opaque.
    for i in range(1, len(pics)):
        if blends[i] != 1:
            continue
        pics[i] = [(q[0], q[1], q[2], 255) if 0 < q[3] < 255 and p[3] == 255 else q
                   for p, q in zip(pics[i - 1], pics[i])]
    animated = getattr(im, "is_animated", False)
    return pics, (durations if animated else None), im.info.get("loop", 0) or 0


# Our rule differs from Pillow's on purpose: a palette entry that is partly
# transparent becomes the frame's transparent index. This file's last frame is
# all such pixels, blended over, so it leaves the picture before it as it was.
PALETTE_RULE = {"mode_palette_1bit_alpha.png"}


def read(exe, folder):
    files = sorted(glob.glob(os.path.join(folder, "*.png")) + glob.glob(os.path.join(folder, "*.apng")))
    assert files, "no animated PNGs in " + folder
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        for path in files:
            name = os.path.basename(path)
            try:
                theirs, durations, loop = pillow_animation(path)
            except Exception as e:  # Pillow rejects the file: so must we
                pics, doc, err = pictures(exe, path, tmp)
                if pics is not None or CORRUPT not in err:
                    print(f"FAIL {name}: Pillow rejects it ({e.__class__.__name__}), we do not")
                    failures += 1
                else:
                    print(f"ok   {name}: refused")
                continue
            pics, doc, err = pictures(exe, path, tmp)
            if pics is None:
                print(f"FAIL {name}: we refuse it: {err.strip()}")
                failures += 1
                continue
            problems = []
            # The shipped reference pictures where there are some; else Pillow,
            # except for indexed frames with transparency, which Pillow 9 does
            # not blend: ffmpeg composites those by the animated-PNG rules.
            ref = references(folder, name)
            expected, source = ref, "reference"
            if not expected:
                expected, source = theirs, "Pillow"
                im = Image.open(path)
                if im.mode in ("P", "L") and "transparency" in im.info:
                    expected, ffmpeg_err = ffmpeg_pictures(path, doc["width"], doc["height"])
                    source = "ffmpeg"
                    if ffmpeg_err:
                        problems.append("ffmpeg: " + ffmpeg_err)
            if name in PALETTE_RULE:
                expected = expected[:-1]
                if pics[-1] != pics[-2]:
                    problems.append("last picture changed what the palette rule keeps")
            if len(pics) < len(expected) or (name not in PALETTE_RULE and len(pics) != len(expected)):
                problems.append(f"{len(pics)} pictures, {source} {len(expected)}")
            for i, (a, b) in enumerate(zip(pics, expected)):
                bad = count_differences(a, b)
                if bad:
                    problems.append(f"picture {i}: {bad} pixels differ from {source}")
            frames = frames_of(doc)
            if doc["hideFirstFrame"]:
                frames = frames[1:]
            delays = [f["delay"] * 10 for f in frames]
            # Delays are whole hundredths, rounded down.
            if durations is not None and (len(delays) != len(durations) or
                                          any(not 0 <= t - d < 10 for d, t in zip(delays, durations))):
                problems.append(f"delays {delays} ms, Pillow {durations}")
            if doc["playCount"] != loop:
                problems.append(f"plays {doc['playCount']}, Pillow {loop}")
            if problems:
                print(f"FAIL {name}: " + "; ".join(problems))
                failures += 1
            else:
                print(f"ok   {name}: {len(pics)} pictures ({source})")
    print(f"{len(files)} files, {failures} failures")
    return failures


# ---- write ----

def ffmpeg_pictures(path, width, height):
    r = run(["ffmpeg", "-v", "error", "-i", path, "-fps_mode", "passthrough", "-f", "rawvideo",
             "-pix_fmt", "rgba", "-"])
    data, n = r.stdout, width * height * 4
    pics = [data[i:i + n] for i in range(0, len(data) - n + 1, n)]
    return [[tuple(p[j:j + 4]) for j in range(0, n, 4)] for p in pics], r.stderr.decode().strip()


def check_written(exe, src, out, tmp, problems):
    """Our APNG `out` of `src`: we, Pillow and ffmpeg see the same animation."""
    before, doc0, _ = pictures(exe, src, tmp)
    after, doc, err = pictures(exe, out, tmp)
    if after is None:
        problems.append("we cannot read what we wrote: " + err.strip())
        return None
    allowed = None
    if not doc0["apngRules"] and doc0["globalPalette"] and doc0["backgroundIndex"] < len(
            doc0["globalPalette"]):
        # A GIF restored to its background shows the background colour here;
        # an animated PNG shows nothing there.
        c = doc0["globalPalette"][doc0["backgroundIndex"]]
        allowed = (int(c[0:2], 16), int(c[2:4], 16), int(c[4:6], 16), 255)
    def changed(a, b):
        return sum(1 for p, q in zip(a, b) if not same(p, q) and not (q == allowed and p[3] == 0))
    if len(after) != len(before) or any(changed(a, b) for a, b in zip(after, before)):
        problems.append("read back, the pictures changed")
    def delays(d):
        fr = frames_of(d)
        return [f["delay"] for f in (fr[1:] if d["hideFirstFrame"] else fr)]
    if delays(doc) != delays(doc0) or doc["playCount"] != doc0["playCount"]:
        problems.append(f"delays or plays changed: {delays(doc0)} {doc0['playCount']} -> "
                        f"{delays(doc)} {doc['playCount']}")
    try:
        theirs, durations, loop = pillow_animation(out)
    except Exception as e:
        problems.append(f"Pillow rejects it: {e}")
        theirs, durations, loop = None, None, None
    if theirs is not None:
        # Pillow 9 neither blends nor disposes indexed frames by the animated-
        # PNG rules; ffmpeg below checks their pixels.
        indexed = Image.open(out).mode in ("P", "L")
        bad = [i for i, (a, b) in enumerate(zip(after, theirs))
               if not indexed and count_differences(a, b)]
        if len(theirs) != len(after) or bad:
            problems.append(f"Pillow: {len(theirs)} pictures, {len(bad)} differ (first {bad[:3]})")
        if durations is not None and (durations != [10 * d for d in delays(doc)] or
                                      loop != doc["playCount"]):
            problems.append(f"Pillow: durations {durations[:5]}..., loop {loop}")
    check = run(["ffmpeg", "-v", "error", "-i", out, "-f", "null", "-"])
    if check.returncode != 0 or check.stderr.strip():
        problems.append("ffmpeg: " + check.stderr.decode().strip()[:200])
    pics, _ = ffmpeg_pictures(out, doc["width"], doc["height"])
    bad = [i for i, (a, b) in enumerate(zip(after, pics)) if count_differences(a, b)]
    if len(pics) != len(after) or bad:
        problems.append(f"ffmpeg: {len(pics)} pictures, {len(bad)} differ (first {bad[:3]})")
    return doc


def write(exe, apng_folder, gif_folders):
    failures = 0
    sources = sorted(glob.glob(os.path.join(apng_folder, "*.png")) +
                     glob.glob(os.path.join(apng_folder, "*.apng")))
    gifs = sorted(p for d in gif_folders for p in glob.glob(os.path.join(d, "*.gif")))
    assert sources and gifs
    with tempfile.TemporaryDirectory() as tmp:
        for src in sources:
            name = os.path.basename(src)
            if fbinfo(exe, src, "--quiet")[0] != 0:
                continue  # refused on reading; the read test covers it
            out = os.path.join(tmp, "out.png")
            rc, _, err = fbinfo(exe, src, "--quiet", "--write", out)
            problems = []
            if rc != 0:
                problems.append("not written: " + err.strip())
            else:
                check_written(exe, src, out, tmp, problems)
            failures += report(name, problems)
        written = refused = 0
        for gif in gifs:
            name = os.path.basename(gif)
            rc, doc, _ = fbinfo(exe, gif)
            if rc != 0 or doc["frameCount"] < 2:
                continue  # not an animation we read
            candidates = [(name, gif)]
            variant = os.path.join(tmp, "u-" + name)
            with open(variant, "wb") as f:
                subprocess.run(["gifsicle", "-U", "--colors", "256", gif], stdout=f,
                               stderr=subprocess.DEVNULL, check=True)
            candidates.append(("gifsicle -U " + name, variant))
            for label, path in candidates:
                out = os.path.join(tmp, "out.png")
                if os.path.exists(out):
                    os.remove(out)
                rc, _, err = fbinfo(exe, path, "--quiet", "--write", out)
                problems = []
                if rc != 0:
                    if not any(r in err for r in REFUSALS) or os.path.exists(out):
                        problems.append("failed without a refusal: " + err.strip())
                    else:
                        refused += 1
                        print(f"ok   {label}: refused ({err.strip().splitlines()[0][:90]})")
                        continue
                else:
                    written += 1
                    check_written(exe, path, out, tmp, problems)
                    # And back to GIF: every picture and delay kept.
                    back = os.path.join(tmp, "back.gif")
                    rc, _, err = fbinfo(exe, out, "--quiet", "--write", back)
                    if rc != 0:
                        problems.append("APNG -> GIF failed: " + err.strip())
                    else:
                        a, da, _ = pictures(exe, path, tmp)
                        b, db, _ = pictures(exe, back, tmp)
                        if len(a) != len(b) or any(count_differences(x, y) for x, y in zip(a, b)):
                            problems.append("GIF -> APNG -> GIF changed the pictures")
                        if [f["delay"] for f in frames_of(da)] != [f["delay"] for f in frames_of(db)]:
                            problems.append("GIF -> APNG -> GIF changed the delays")
                failures += report(label, problems)
        print(f"GIF animations: {written} written as APNG, {refused} refused")
        if written == 0:
            print("FAIL: no GIF went through")
            failures += 1
    print(f"{failures} failures")
    return failures


def report(name, problems):
    if problems:
        print(f"FAIL {name}: " + "; ".join(problems))
        return 1
    print(f"ok   {name}")
    return 0


def main():
    # Default preferences: no settings file of the person running the tests.
    os.environ["XDG_CONFIG_HOME"] = tempfile.mkdtemp()
    mode, exe = sys.argv[1], sys.argv[2]
    if mode == "suite":
        failures = suite(exe, sys.argv[3])
    elif mode == "read":
        failures = read(exe, sys.argv[3])
    elif mode == "write":
        failures = write(exe, sys.argv[3], sys.argv[4:])
    else:
        sys.exit("unknown mode " + mode)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
