#!/usr/bin/python3
"""BMP, JPEG, PSD, icon, cursor, animated cursor, SWF and palette files against
other programs.

  image_interop.py bmp FBINFO DATA
      The BMP suite: every good file reads to Pillow's pixels (to the suite's
      own rendering where Pillow is known wrong or refuses); every bad file is
      refused with a message and no crash; the RLE files with holes read with
      the holes transparent, as the suite renders them. What we write (8 and
      24 bits) Pillow reads to the pixels we read.

  image_interop.py jpeg FBINFO DATA
      JPEGs made by cjpeg and ImageMagick (baseline, progressive, grey, CMYK)
      read within 2 levels of djpeg (CMYK: of Pillow); EXIF orientations as
      Pillow turns them. Our JPEGs Pillow reads, and the quality word maps to
      the quality libjpeg was given.

  image_interop.py icons FBINFO DATA
      Every image of every icon and cursor reads to Pillow's pixels (image-rs's
      references where Pillow is wrong); damaged ones are refused. Icons and
      cursors we write are read back by Pillow and icotool to the same pixels
      and hot spots; icotool's icons and cursors read to their PNG sources.
      Animated cursors: the steps, rates and pictures of the reference files.

  image_interop.py psd FBINFO DATA
      ImageMagick's layered, grey and indexed PSDs read to Pillow's layers;
      our PSDs read by Pillow (layers, names, offsets, composite) and by
      ImageMagick (which also applies our layer masks).

  image_interop.py swf FBINFO DATA
      Our SWFs walked tag by tag by a walker of its own: compressed header,
      stage, frame rate, frame count, bitmaps equal to our pictures, and the
      frames each picture stays for its delay.

  image_interop.py pal FBINFO DATA
      Hand-made RIFF and JASC palette files read to their colours; palettes we
      write are byte for byte the hand-made RIFF layout.

  image_interop.py roundtrip FBINFO DATA
      GIF -> each writer -> our reader: the same pictures (JPEG within the
      PSNR stated below) and, where the format holds them, the same delays.
"""
import glob
import json
import math
import os
import struct
import subprocess
import sys
import tempfile
import zlib

from PIL import Image, ImageOps

JPEG_ROUND_TRIP_PSNR = 30.0  # dB, quality 75, over GIF pictures
JPEG_GIFS = ("cellauto-ffmpeg.gif", "testsrc2-im-optimized.gif")


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, **kw)


def fbinfo(exe, path, *opts):
    """(returncode, document or None, stderr). True-colour frames keep their
    colours when mapped into palettes after reading."""
    r = run([exe, "--keep-24bit", *opts, path])
    doc = None
    if r.returncode == 0 and r.stdout.strip():
        doc = json.loads(r.stdout)
    return r.returncode, doc, r.stderr.decode("utf-8", "replace")


def frames_of(doc):
    return [b for b in doc["blocks"] if b["type"] == "frame"]


def raw_images(exe, path, tmp, *opts):
    """Each frame's own image (RGBA) and the document."""
    out = tempfile.mkdtemp(dir=tmp)
    rc, doc, err = fbinfo(exe, path, "--raw", out, *opts)
    if rc != 0:
        return None, None, err
    images = [Image.open(os.path.join(out, "frame-%04d.png" % i)).convert("RGBA")
              for i in range(len(frames_of(doc)))]
    return images, doc, err


def pictures(exe, path, tmp):
    """Every composited picture (RGBA) and the document."""
    out = tempfile.mkdtemp(dir=tmp)
    rc, doc, err = fbinfo(exe, path, "--frames", out)
    if rc != 0:
        return None, None, err
    files = sorted(glob.glob(os.path.join(out, "frame-*.png")))
    return [Image.open(f).convert("RGBA") for f in files], doc, err


def differences(a, b, tolerance=0):
    """Pixels that differ by more than `tolerance` in a channel; the colour of
    a pixel transparent in both does not count."""
    if a.size != b.size:
        return a.size[0] * a.size[1] + 1
    n = 0
    for p, q in zip(a.convert("RGBA").getdata(), b.convert("RGBA").getdata()):
        if p[3] == 0 and q[3] == 0:
            continue
        if max(abs(x - y) for x, y in zip(p, q)) > tolerance:
            n += 1
    return n


def psnr(a, b):
    a, b = a.convert("RGB"), b.convert("RGB")
    se = sum((x - y) ** 2 for p, q in zip(a.getdata(), b.getdata()) for x, y in zip(p, q))
    mse = se / (3 * a.size[0] * a.size[1])
    return 99.0 if mse == 0 else 10 * math.log10(255 * 255 / mse)


class Check:
    def __init__(self):
        self.failures = []
        self.passed = 0

    def __call__(self, ok, what):
        if ok:
            self.passed += 1
        else:
            self.failures.append(what)
            print("FAIL:", what)

    def done(self):
        print("%d passed, %d failed" % (self.passed, len(self.failures)))
        return 1 if self.failures else 0


def refused(check, exe, path, what):
    rc, doc, err = fbinfo(exe, path, "--quiet")
    check(rc == 1 and err.strip() != "", "%s is refused with a message (rc %d: %s)" % (what, rc, err.strip()))


# ---- BMP ----

# Good files Pillow 9.4 reads wrongly or not at all, against the suite's renderings.
BMP_REFERENCES = {"pal4rle": "pal4.png", "rgb32bf": "rgb24.png"}


def bmp(exe, data, tmp, check):
    for f in sorted(glob.glob(os.path.join(data, "bmp", "g", "*.bmp"))):
        name = os.path.basename(f)[:-4]
        images, doc, err = raw_images(exe, f, tmp)
        check(images is not None and len(images) == 1, "g/%s reads (%s)" % (name, err.strip()))
        if not images:
            continue
        if name in BMP_REFERENCES:
            ref = Image.open(os.path.join(data, "bmp", "reference", BMP_REFERENCES[name]))
            pillow_mode = None
        else:
            ref = Image.open(f)
            pillow_mode = ref.mode
        check(differences(images[0], ref) == 0, "g/%s equals %s" % (
            name, "the suite's rendering" if name in BMP_REFERENCES else "Pillow"))
        # Written back as 8 bits (when indexed) and as 24 bits, Pillow reads the same.
        for opts, bits in (("0x3", None), ("0xB", 24)):
            out = os.path.join(tmp, "w-%s-%s.bmp" % (name, opts))
            rc, _, err = fbinfo(exe, f, "--quiet", "--save-options", opts, "--write", out)
            check(rc == 0, "g/%s writes with options %s (%s)" % (name, opts, err.strip()))
            if rc != 0:
                continue
            written = Image.open(out)
            check(differences(written, images[0]) == 0, "g/%s written with %s reads the same in Pillow" % (name, opts))
            if bits:
                check(written.mode == "RGB", "g/%s with the 24-bit option is 24-bit" % name)
            elif pillow_mode in ("P", "1", "L"):
                check(written.mode in ("P", "1", "L"), "g/%s indexed stays indexed" % name)
    for f in sorted(glob.glob(os.path.join(data, "bmp", "b", "*.bmp"))):
        refused(check, exe, f, "b/" + os.path.basename(f))
    for f in sorted(glob.glob(os.path.join(data, "bmp", "q", "*.bmp"))):
        name = os.path.basename(f)[:-4]
        images, _, err = raw_images(exe, f, tmp)
        ref = Image.open(os.path.join(data, "bmp", "reference", name + ".png"))
        check(images is not None and differences(images[0], ref) == 0,
              "q/%s equals the suite's rendering with transparent holes" % name)


# ---- JPEG ----

def make_source(tmp):
    """A photograph-like picture: smooth gradients with an edge."""
    src = os.path.join(tmp, "src.ppm")
    r = run(["convert", "-size", "96x64", "gradient:#c03010-#1040e0", "-swirl", "120",
             "-fill", "#f0f0a0", "-draw", "circle 60,30 60,12", "-depth", "8", src])
    assert r.returncode == 0, r.stderr
    return src


def jpeg(exe, data, tmp, check):
    src = make_source(tmp)
    made = {}
    for name, cmd in (("baseline", ["cjpeg", "-quality", "85"]),
                      ("progressive", ["cjpeg", "-progressive"]),
                      ("grey", ["cjpeg", "-grayscale"]),
                      ("optimized", ["cjpeg", "-optimize", "-sample", "1x1"])):
        out = os.path.join(tmp, name + ".jpg")
        with open(out, "wb") as f:
            subprocess.run(cmd + [src], stdout=f, check=True)
        made[name] = out
    made["imagemagick"] = os.path.join(tmp, "im.jpg")
    run(["convert", src, "-quality", "70", "-interlace", "JPEG", made["imagemagick"]])
    for name, path in sorted(made.items()):
        ref = os.path.join(tmp, name + "-ref.pnm")
        with open(ref, "wb") as f:
            subprocess.run(["djpeg", "-pnm", path], stdout=f, check=True)
        images, doc, err = raw_images(exe, path, tmp)
        check(images is not None and differences(images[0], Image.open(ref), 2) == 0,
              "%s JPEG reads within 2 levels of djpeg (%s)" % (name, err.strip()))
    cmyk = os.path.join(tmp, "cmyk.jpg")
    run(["convert", src, "-colorspace", "CMYK", cmyk])
    images, _, err = raw_images(exe, cmyk, tmp)
    check(images is not None and differences(images[0], Image.open(cmyk).convert("RGB"), 2) == 0,
          "CMYK JPEG (Adobe, inverted) reads within 2 levels of Pillow (%s)" % err.strip())
    base = Image.open(src)
    for o in range(1, 9):
        path = os.path.join(tmp, "orient%d.jpg" % o)
        exif = Image.Exif()
        exif[0x0112] = o
        base.save(path, quality=92, exif=exif)
        images, _, err = raw_images(exe, path, tmp)
        want = ImageOps.exif_transpose(Image.open(path))
        check(images is not None and differences(images[0], want, 2) == 0,
              "EXIF orientation %d is applied as Pillow applies it" % o)
    for f in sorted(glob.glob(os.path.join(data, "jpeg", "*.jpg"))):
        images, _, err = raw_images(exe, f, tmp)
        want = ImageOps.exif_transpose(Image.open(f)).convert("RGB")
        check(images is not None and differences(images[0], want, 2) == 0,
              "%s reads as Pillow reads it" % os.path.basename(f))
    # Writing: Pillow reads ours; a higher quality gives a larger, closer file.
    sizes = {}
    for q in (50, 75, 95):
        out = os.path.join(tmp, "ours-q%d.jpg" % q)
        rc, _, err = fbinfo(exe, src.replace(".ppm", ".png") if False else made["baseline"],
                            "--quiet", "--jpeg-quality", str(q), "--write", out)
        check(rc == 0, "JPEG at quality %d writes (%s)" % (q, err.strip()))
        im = Image.open(out)
        im.load()
        check(im.format == "JPEG" and im.mode == "RGB" and im.size == base.size,
              "Pillow reads our quality-%d JPEG as 24-bit colour" % q)
        sizes[q] = (os.path.getsize(out), psnr(im, Image.open(made["baseline"])))
        # libjpeg's luminance table at quality q: entry 0 is (16 * scale + 50) / 100.
        scale = 5000 // q if q < 50 else 200 - 2 * q
        check(im.quantization[0][0] == max(1, (16 * scale + 50) // 100),
              "quality %d reaches libjpeg as %d" % (q, q))
    check(sizes[50][0] < sizes[75][0] < sizes[95][0] and sizes[50][1] < sizes[95][1],
          "higher quality, larger and closer files: %s" % sizes)


# ---- icons and cursors ----

def icon_directory(path):
    d = open(path, "rb").read()
    kind, n = struct.unpack("<HH", d[2:6])
    entries = []
    for i in range(n):
        w, h, cc, _, planes, bits, size, offset = struct.unpack("<BBBBHHII", d[6 + 16 * i:22 + 16 * i])
        entries.append({"width": w or 256, "height": h or 256, "x": planes, "y": bits,
                        "offset": offset, "png": d[offset:offset + 8] == b"\x89PNG\r\n\x1a\n"})
    return kind, entries


def pillow_entries(path):
    """Pillow's image for each directory entry, in directory order."""
    im = Image.open(path)
    _, entries = icon_directory(path)
    out = [None] * len(entries)
    if path.endswith(".cur"):
        # Pillow shows one image of a cursor: the first of its size.
        sizes = [(e["width"], e["height"]) for e in entries]
        out[sizes.index(im.size)] = im.convert("RGBA")
        return out
    offsets = [e["offset"] for e in entries]
    for i, e in enumerate(im.ico.entry):
        out[offsets.index(e["offset"])] = im.ico.frame(i).convert("RGBA")
    return out


# Files Pillow reads wrongly, and what the image is instead.
ICON_REFERENCES = {"bmp_v5_with_icc.ico": os.path.join("bmp", "reference", "rgb24.png")}
# Damaged files: refused by us (Pillow reads the first two by ignoring the
# directory's image lengths).
ICON_DAMAGED = ("Bad_smile-incorrect-image-length.ico", "no_cursors.cur", "decompression_bomb.ico")


def icons(exe, data, tmp, check):
    root = os.path.join(data, "icons")
    files = sorted(glob.glob(os.path.join(root, "*", "*.ico")) + glob.glob(os.path.join(root, "*", "*.cur")))
    for f in files:
        name = os.path.basename(f)
        if name in ICON_DAMAGED:
            refused(check, exe, f, name)
            continue
        images, doc, err = raw_images(exe, f, tmp)
        check(images is not None, "%s reads (%s)" % (name, err.strip()))
        if images is None:
            continue
        kind, entries = icon_directory(f)
        check(len(images) == len(entries), "%s: one frame per image" % name)
        if name in ICON_REFERENCES:
            check(differences(images[0], Image.open(os.path.join(data, ICON_REFERENCES[name]))) == 0,
                  "%s equals the picture it holds" % name)
        else:
            for i, ref in enumerate(pillow_entries(f)):
                if ref is not None:
                    check(differences(images[i], ref) == 0, "%s image %d equals Pillow's" % (name, i))
        ref = os.path.join(root, "image-rs", "reference", name + ".png")
        if os.path.exists(ref):
            # image-rs shows one of the largest images.
            check(any(differences(im, Image.open(ref)) == 0 for im in images),
                  "%s equals image-rs's reference" % name)
        if kind == 2:
            frames = frames_of(doc)
            check(all(fr["hotspotX"] == e["x"] and fr["hotspotY"] == e["y"]
                      for fr, e in zip(frames, entries)), "%s keeps its hot spots" % name)
    for f in sorted(glob.glob(os.path.join(root, "gdk-pixbuf-tests", "invalid", "*.ico"))):
        refused(check, exe, f, "invalid/" + os.path.basename(f))

    # Ours, read by Pillow and icotool; icotool's, read by us.
    sizes = [(16, 16), (32, 32), (48, 48), (256, 256)]
    pngs = []
    for w, h in sizes:
        p = os.path.join(tmp, "src%d.png" % w)
        run(["convert", "-size", "%dx%d" % (w, h), "radial-gradient:#ff8000ff-#0000ff00",
             "-depth", "8", "PNG32:" + p])
        pngs.append(p)
    for cursor in (False, True):
        ext = "cur" if cursor else "ico"
        made = os.path.join(tmp, "icotool." + ext)
        cmd = ["icotool", "-c", "-o", made] + (["--cursor", "--hotspot-x=3", "--hotspot-y=5"] if cursor else [])
        r = run(cmd + pngs[:3])
        check(r.returncode == 0, "icotool makes a %s" % ext)
        images, doc, err = raw_images(exe, made, tmp)
        check(images is not None and len(images) == 3 and all(
            differences(images[i], Image.open(pngs[i])) == 0 for i in range(3)),
              "icotool's %s reads to its sources (%s)" % (ext, err.strip()))
        if cursor and doc:
            check(all(fr["hotspotX"] == 3 and fr["hotspotY"] == 5 for fr in frames_of(doc)),
                  "icotool's cursor hot spots are kept")
        # Ours from those frames (and a 256-pixel one as PNG), both orders.
        src = os.path.join(tmp, "four." + ext)
        r = run(["icotool", "-c", "-o", src] + (["--cursor", "--hotspot-x=3", "--hotspot-y=5"] if cursor else []) + pngs)
        for opts in ([], ["--icon-order-as-is"], ["--icon-no-png"]):
            out = os.path.join(tmp, "ours-%s-%d.%s" % (ext, len(opts) and len(opts[0]), ext))
            rc, _, err = fbinfo(exe, src, "--quiet", *opts, "--write", out)
            check(rc == 0, "we write a %s %s (%s)" % (ext, opts, err.strip()))
            if rc != 0:
                continue
            kind, entries = icon_directory(out)
            check(kind == (2 if cursor else 1), "our %s has the right type" % ext)
            want_png = "--icon-no-png" not in opts
            check([e["png"] for e in entries] == [False, False, False, want_png],
                  "256-pixel image as PNG only when asked (%s)" % opts)
            if cursor:
                check(all(e["x"] == 3 and e["y"] == 5 for e in entries), "our cursor keeps hot spots")
            # Pillow takes a cursor's hot spot for its bit depth: icotool checks cursors.
            for i, ref in enumerate([] if cursor else pillow_entries(out)):
                if ref is not None:
                    check(differences(ref, Image.open(pngs[i])) == 0, "Pillow reads our %s image %d" % (ext, i))
            xdir = tempfile.mkdtemp(dir=tmp)
            r = run(["icotool", "-x", "-o", xdir, out])
            extracted = sorted(glob.glob(os.path.join(xdir, "*.png")),
                               key=lambda p: int(p.rsplit("_", 2)[1]))
            check(r.returncode == 0 and len(extracted) == 4 and all(
                differences(Image.open(extracted[i]), Image.open(pngs[i])) == 0 for i in range(4)),
                  "icotool extracts our %s images %s (%s)" % (ext, opts, r.stderr.decode().strip()))
    # XP order: PNG images after the others.
    mixed = os.path.join(tmp, "mixed.ico")
    run(["icotool", "-c", "-o", mixed, pngs[3], pngs[0]])
    for opts, want in (([], [False, True]), (["--icon-order-as-is"], [True, False])):
        out = os.path.join(tmp, "order%d.ico" % len(opts))
        fbinfo(exe, mixed, "--quiet", *opts, "--write", out)
        check([e["png"] for e in icon_directory(out)[1]] == want, "entry order %s" % opts)

    # Animated cursors: steps 1, 2, 3, 2 at 10, 20, 10, 10 jiffies.
    ani = os.path.join(root, "kimageformats", "test.ani")
    images, doc, err = pictures(exe, ani, tmp)
    check(images is not None and len(images) == 4, "test.ani has 4 steps (%s)" % err.strip())
    if images:
        check([fr["delay"] for fr in frames_of(doc)] == [17, 33, 17, 17], "rates in jiffies become hundredths")
        for i, k in enumerate((1, 2, 3, 2)):
            ref = Image.open(os.path.join(root, "kimageformats", "test_%d.png" % k))
            check(differences(images[i], ref, 1) == 0, "test.ani step %d shows frame %d" % (i + 1, k))
    # Ours: a GIF's pictures as steps, read back by us and by Pillow (each icon).
    gif = os.path.join(data, "gif-suite", "dispose-restore-previous.gif")
    want, wdoc, _ = pictures(exe, gif, tmp)
    out = os.path.join(tmp, "ours.ani")
    rc, _, err = fbinfo(exe, gif, "--quiet", "--write", out)
    check(rc == 0, "we write an animated cursor (%s)" % err.strip())
    got, gdoc, err = pictures(exe, out, tmp)
    check(got is not None and len(got) == len(want) and all(
        differences(a, b) == 0 for a, b in zip(got, want)), "our animated cursor shows the GIF's pictures")
    if got:
        delays = [round(round(fr["delay"] * 60 / 100) * 100 / 60) for fr in frames_of(wdoc)]
        check([fr["delay"] for fr in frames_of(gdoc)] == [max(d, 2) for d in delays],
              "delays kept to the jiffy")
    walk_ani(check, out, len(want))


def walk_ani(check, path, steps):
    d = open(path, "rb").read()
    check(d[:4] == b"RIFF" and d[8:12] == b"ACON" and struct.unpack("<I", d[4:8])[0] == len(d) - 8,
          "our ANI is a RIFF ACON file of the right size")
    at, icons, header = 12, 0, None
    while at + 8 <= len(d):
        cid, n = d[at:at + 4], struct.unpack("<I", d[at + 4:at + 8])[0]
        if cid == b"anih":
            header = struct.unpack("<9I", d[at + 8:at + 44])
        if cid == b"LIST" and d[at + 8:at + 12] == b"fram":
            sub = at + 12
            while sub < at + 8 + n:
                sn = struct.unpack("<I", d[sub + 4:sub + 8])[0]
                if d[sub:sub + 4] == b"icon":
                    im = Image.open(__import__("io").BytesIO(d[sub + 8:sub + 8 + sn]))
                    im.load()
                    icons += 1
                sub += 8 + sn + (sn & 1)
        at += 8 + n + (n & 1)
    check(header is not None and header[1] == steps and header[2] == steps and header[8] & 1,
          "anih: frames and steps, icon frames")
    check(icons == steps, "every frame an icon Pillow reads")


# ---- PSD ----
# Pillow 9.4 places layer pixels wrongly (its offsets count from the layer
# section, not the file): it is asked only for the layer list and the
# composite. ImageMagick gives the layers' pixels.

def pillow_layer_list(path):
    return [(layer[0], layer[2]) for layer in Image.open(path).layers]


def imagemagick_layer(path, index, tmp):
    png = os.path.join(tmp, "im-layer.png")
    run(["convert", "%s[%d]" % (path, index), "PNG32:" + png])
    return Image.open(png).convert("RGBA")


def psd(exe, data, tmp, check):
    # ImageMagick's layered files (zlib and PackBits) from layers we know.
    sources = []
    for name, cmd in (("circle", ["-size", "20x16", "xc:none", "-fill", "rgba(255,0,0,0.5)",
                                  "-draw", "circle 10,8 10,2"]),
                      ("ramp", ["-size", "12x10", "gradient:green-yellow"]),
                      ("back", ["-size", "40x30", "xc:white", "-fill", "blue",
                                "-draw", "rectangle 2,2 20,20"])):
        p = os.path.join(tmp, name + ".png")
        run(["convert", *cmd, "-depth", "8", "PNG32:" + p])
        sources.append(p)
    offsets = [(5, 4), (25, 12)]
    for compress in ("Zip", "RLE"):
        made = os.path.join(tmp, "im-%s.psd" % compress)
        run(["convert", sources[2], "-page", "+5+4", sources[0], "-page", "+25+12", sources[1],
             "-depth", "8", "-type", "TrueColorAlpha", "-compress", compress, made])
        images, doc, err = raw_images(exe, made, tmp)
        check(images is not None and len(images) == 2, "ImageMagick's %s PSD reads (%s)" % (compress, err.strip()))
        if not images:
            continue
        listing = pillow_layer_list(made)
        for k, (fr, im) in enumerate(zip(frames_of(doc), images)):
            check(differences(im, Image.open(sources[k])) == 0, "%s layer %d has its pixels" % (compress, k))
            check((fr["left"], fr["top"]) == offsets[k], "%s layer %d at its offset" % (compress, k))
            lname, box = listing[k]
            check(fr["name"] == lname and box == (fr["left"], fr["top"], fr["left"] + fr["width"],
                                                   fr["top"] + fr["height"]),
                  "%s layer %d named and placed as Pillow lists it" % (compress, k))
    # Grey and indexed files: their composite, as Pillow reads it.
    for f in sorted(glob.glob(os.path.join(data, "psd", "*.psd"))):
        name = os.path.basename(f)
        images, doc, err = raw_images(exe, f, tmp)
        check(images is not None, "%s reads (%s)" % (name, err.strip()))
        if "imagemagick" not in name:
            continue  # ours; Pillow cannot open layer masks at all
        im = Image.open(f)
        if images and im.mode in ("L", "P"):
            check(len(images) == 1 and differences(images[0], im.convert("RGBA")) == 0,
                  "%s reads to Pillow's picture" % name)

    gif = os.path.join(data, "gif-real", "testsrc2-im-optimized.gif")
    raw, gdoc, _ = raw_images(exe, gif, tmp)
    gframes = frames_of(gdoc)
    for mask in (False, True):
        out = os.path.join(tmp, "ours%d.psd" % mask)
        rc, _, err = fbinfo(exe, gif, "--quiet", *(["--psd-layer-mask"] if mask else []), "--write", out)
        check(rc == 0, "we write a PSD (mask %s: %s)" % (mask, err.strip()))
        # ImageMagick: the composite first, then every layer at its offset.
        listing = run(["identify", "-format", "%w %h %X %Y\n", out]).stdout.decode().split("\n")
        listing = [line for line in listing if line]
        check(len(listing) == len(gframes) + 1, "ImageMagick sees the composite and %d layers" % len(gframes))
        for i in (1, 2, len(gframes) // 2, len(gframes)):
            w, h, x, y = (int(v.replace("+", "")) for v in listing[i].split())
            fr = gframes[i - 1]
            check((w, h, x, y) == (fr["width"], fr["height"], fr["left"], fr["top"]),
                  "ImageMagick: layer %d size and offset (mask %s)" % (i, mask))
            check(differences(imagemagick_layer(out, i, tmp), raw[i - 1]) == 0,
                  "ImageMagick: layer %d pixels and transparency (mask %s)" % (i, mask))
        if mask:
            continue
        listing = pillow_layer_list(out)
        check(len(listing) == len(gframes), "Pillow lists every layer")
        check(all(box == (fr["left"], fr["top"], fr["left"] + fr["width"], fr["top"] + fr["height"])
                  for (_, box), fr in zip(listing, gframes)), "Pillow: every layer at its offset")
        check(all(n.endswith(str(i + 1)) for i, (n, _) in enumerate(listing)), "layer names")
        composite = Image.open(out)
        stacked = Image.new("RGBA", composite.size)
        for fr, r in zip(gframes, raw):
            stacked.alpha_composite(r, (fr["left"], fr["top"]))
        check(differences(composite, stacked, 1) == 0, "the composite is every layer stacked")


# ---- SWF ----

class Bits:
    def __init__(self, data, at):
        self.data, self.bit = data, at * 8

    def u(self, n):
        v = 0
        for _ in range(n):
            v = v << 1 | (self.data[self.bit >> 3] >> (7 - (self.bit & 7))) & 1
            self.bit += 1
        return v

    def s(self, n):
        v = self.u(n)
        return v - (1 << n) if n and v >> (n - 1) else v

    def end(self):
        return (self.bit + 7) >> 3


def walk_swf(path):
    d = open(path, "rb").read()
    assert d[:3] == b"CWS", "compressed signature"
    length = struct.unpack("<I", d[4:8])[0]
    body = zlib.decompress(d[8:])
    assert len(body) + 8 == length, "length field"
    b = Bits(body, 0)
    n = b.u(5)
    rect = [b.s(n) for _ in range(4)]
    at = b.end()
    rate, count = struct.unpack("<HH", body[at:at + 4])
    at += 4
    tags, bitmaps, shown = [], {}, []
    current = None
    places = {}
    while at < len(body):
        code_len = struct.unpack("<H", body[at:at + 2])[0]
        code, n = code_len >> 6, code_len & 0x3F
        at += 2
        if n == 0x3F:
            n = struct.unpack("<I", body[at:at + 4])[0]
            at += 4
        data = body[at:at + n]
        at += n
        tags.append(code)
        if code == 36:
            cid, fmt, w, h = struct.unpack("<HBHH", data[:7])
            assert fmt == 5
            bitmaps[cid] = (w, h, zlib.decompress(data[7:]))
        elif code == 2:
            sid = struct.unpack("<H", data[:2])[0]
            # The fill style's bitmap id follows the shape bounds and the style count.
            bb = Bits(data, 2)
            nb = bb.u(5)
            [bb.s(nb) for _ in range(4)]
            p = bb.end()
            assert data[p] == 1 and data[p + 1] == 0x41
            places[sid] = struct.unpack("<H", data[p + 2:p + 4])[0]
        elif code == 26:
            flags, depth, cid = struct.unpack("<BHH", data[:5])
            current = places[cid]
        elif code == 1:
            shown.append(current)
        elif code == 0:
            break
    return {"stage": rect, "rate": rate, "count": count, "tags": tags, "bitmaps": bitmaps,
            "shown": shown, "version": d[3]}


def bitmap_image(w, h, argb):
    im = Image.new("RGBA", (w, h))
    px = []
    for i in range(w * h):
        a, r, g, bl = argb[4 * i:4 * i + 4]
        un = (lambda c: min(255, (c * 255 + a // 2) // a) if a else 0)
        px.append((un(r), un(g), un(bl), a))
    im.putdata(px)
    return im


def swf(exe, data, tmp, check):
    for gif, expect_rate in (("dispose-restore-previous.gif", None), ("animation-speed.gif", None),
                             ("animation.gif", None)):
        path = os.path.join(data, "gif-suite", gif)
        want, doc, _ = pictures(exe, path, tmp)
        out = os.path.join(tmp, gif + ".swf")
        rc, _, err = fbinfo(exe, path, "--quiet", "--write", out)
        check(rc == 0, "%s writes as SWF (%s)" % (gif, err.strip()))
        if rc != 0:
            continue
        try:
            w = walk_swf(out)
        except Exception as e:  # a walker that cannot walk it is a failure
            check(False, "%s: the SWF walks (%s)" % (gif, e))
            continue
        check(w["stage"] == [0, doc["width"] * 20, 0, doc["height"] * 20], "%s: stage is the screen" % gif)
        check(w["tags"][0] == 69 and w["count"] == w["tags"].count(1) and w["tags"][-1] == 0,
              "%s: attributes first, frame count = ShowFrame tags, End last" % gif)
        # Every bitmap is a picture; every picture shows for its delay.
        delays = [max(fr["delay"], 0) for fr in frames_of(doc)]
        nonzero = [x for x in delays if x]
        g = 0
        for x in nonzero:
            g = math.gcd(g, x)
        period = min(g or 10, 100)
        while (g or 10) % period:
            period -= 1
        check(w["rate"] == round(25600 / period), "%s: %d.%02d fps for a period of %d" % (
            gif, w["rate"] >> 8, w["rate"] & 255, period))
        expected = []
        for i, pic in enumerate(want):
            expected += [i] * max(1, delays[i] // period)
        ids = []
        for cid in w["shown"]:
            if not ids or ids[-1] != cid:
                ids.append(cid)
        ok = True
        k = 0
        for frame, cid in zip(expected, w["shown"]):
            bw, bh, argb = w["bitmaps"][cid]
            if len(argb) != bw * bh * 4 or (bw, bh) != want[frame].size:
                ok = False
        check(ok and len(w["shown"]) == len(expected), "%s: bitmap sizes and frames per picture" % gif)
        seen = {}
        for frame, cid in zip(expected, w["shown"]):
            if cid not in seen:
                bw, bh, argb = w["bitmaps"][cid]
                seen[cid] = bitmap_image(bw, bh, argb)
            if differences(seen[cid], want[frame], 1) != 0:
                ok = False
        check(ok, "%s: every frame shows its picture" % gif)


# ---- palette files ----

def riff_palette(colours):
    data = struct.pack("<HH", 0x300, len(colours)) + b"".join(bytes([r, g, b, 0]) for r, g, b in colours)
    return b"RIFF" + struct.pack("<I", 4 + 8 + len(data)) + b"PAL " + b"data" + struct.pack("<I", len(data)) + data


def pal(exe, data, tmp, check):
    expected = {
        "jasc.pal": ["000000", "ff0000", "00ff00", "0000ff", "7f7f7f"],
        "jasc-lf.pal": ["102030", "405060"],
        "riff.pal": ["010203", "fefdfc", "808080"],
    }
    for name, colours in sorted(expected.items()):
        r = run([exe, os.path.join(data, "pal", name)])
        check(r.returncode == 0 and json.loads(r.stdout)["palette"] == colours,
              "%s reads to its colours (%s)" % (name, r.stderr.decode().strip()))
    for name in ("bad-count.pal", "bad-riff.pal"):
        r = run([exe, os.path.join(data, "pal", name)])
        check(r.returncode == 1 and b"corrupt" in r.stderr, "%s is refused" % name)
    gif = os.path.join(data, "gif-suite", "four-colors.gif")
    rc, doc, _ = fbinfo(exe, gif)
    out = os.path.join(tmp, "ours.pal")
    r = run([exe, "--quiet", "--write", out, gif])
    colours = [tuple(bytes.fromhex(c)) for c in doc["globalPalette"]]
    check(r.returncode == 0 and open(out, "rb").read() == riff_palette(colours),
          "our palette file is the RIFF layout byte for byte")
    r = run([exe, out])
    check(json.loads(r.stdout)["palette"] == doc["globalPalette"], "our palette file reads back")


# ---- round trips ----

def roundtrip(exe, data, tmp, check):
    gifs = [os.path.join(data, "gif-suite", n) for n in (
        "dispose-restore-previous.gif", "animation.gif", "transparent.gif", "four-colors.gif")]
    gifs += [os.path.join(data, "gif-real", n) for n in (
        "life-ffmpeg.gif", "testsrc2-im-optimized.gif", "cellauto-ffmpeg.gif")]
    for gif in gifs:
        name = os.path.basename(gif)
        raw, doc, _ = raw_images(exe, gif, tmp)
        pics, _, _ = pictures(exe, gif, tmp)
        frames = frames_of(doc)
        small = doc["width"] <= 256 and doc["height"] <= 256 and all(
            f["width"] <= 256 and f["height"] <= 256 for f in frames)
        # Numbered BMP files: each frame's own image, exactly.
        out = os.path.join(tmp, "n-" + name[:-4] + ".bmp")
        rc, _, err = fbinfo(exe, gif, "--quiet", "--save-options", "0x20", "--write", out)
        check(rc == 0, "%s: numbered BMP files (%s)" % (name, err.strip()))
        files = sorted(glob.glob(out[:-4] + "-*.bmp"))
        check(len(files) == len(frames), "%s: one BMP per frame" % name)
        ok = True
        for f, want in zip(files, raw):
            got, _, _ = raw_images(exe, f, tmp)
            ok = ok and got is not None and differences(got[0], want.convert("RGB").convert("RGBA")) == 0 if not any(
                p[3] == 0 for p in want.getdata()) else ok and got is not None
        check(ok, "%s: BMP frames read back exactly" % name)
        # Filmstrip BMP and JPEG: one picture of every picture.
        for ext in ("bmp", "jpg"):
            out = os.path.join(tmp, "strip-" + name[:-4] + "." + ext)
            rc, _, err = fbinfo(exe, gif, "--quiet", "--save-options", "0x18", "--write", out)
            got, _, _ = raw_images(exe, out, tmp)
            check(rc == 0 and got is not None and got[0].size == (doc["width"] * len(pics), doc["height"]),
                  "%s: %s filmstrip of every picture (%s)" % (name, ext, err.strip()))
        # JPEG: the first frame within the stated PSNR, for pictures (not for
        # single pixels of pure colour, which no JPEG keeps).
        if name not in JPEG_GIFS:
            continue_jpeg = False
        else:
            continue_jpeg = True
        out = os.path.join(tmp, "j-" + name[:-4] + ".jpg")
        rc, _, err = fbinfo(exe, gif, "--quiet", "--jpeg-quality", "75", "--write", out)
        got, _, _ = raw_images(exe, out, tmp)
        flat = Image.new("RGB", raw[0].size)
        flat.paste(raw[0].convert("RGB"))
        value = psnr(got[0], flat) if got else 0
        check(not continue_jpeg or (got is not None and value >= JPEG_ROUND_TRIP_PSNR),
              "%s: JPEG first frame at %.1f dB (at least %.0f)" % (name, value, JPEG_ROUND_TRIP_PSNR))
        # PSD: every frame's own image at its place (no delays in PSD).
        out = os.path.join(tmp, "p-" + name[:-4] + ".psd")
        rc, _, err = fbinfo(exe, gif, "--quiet", "--write", out)
        got, gdoc, _ = raw_images(exe, out, tmp)
        check(got is not None and len(got) == len(raw) and all(
            differences(a, b) == 0 for a, b in zip(got, raw)) and all(
            (a["left"], a["top"]) == (b["left"], b["top"]) for a, b in zip(frames_of(gdoc), frames)),
              "%s: PSD layers are the frames (%s)" % (name, err.strip()))
        if not small:
            continue
        # Icons: every frame's own image; cursors the same with hot spots.
        for ext in ("ico", "cur"):
            out = os.path.join(tmp, "i-" + name[:-4] + "." + ext)
            rc, _, err = fbinfo(exe, gif, "--quiet", "--write", out)
            got, _, _ = raw_images(exe, out, tmp)
            check(got is not None and len(got) == len(raw) and all(
                differences(a, b) == 0 for a, b in zip(got, raw)),
                  "%s: %s images are the frames (%s)" % (name, ext, err.strip()))
        # Animated cursors: the pictures, and the delays to the jiffy.
        out = os.path.join(tmp, "a-" + name[:-4] + ".ani")
        rc, _, err = fbinfo(exe, gif, "--quiet", "--write", out)
        got, gdoc, _ = pictures(exe, out, tmp)
        check(got is not None and len(got) == len(pics) and all(
            differences(a, b) == 0 for a, b in zip(got, pics)), "%s: ANI pictures (%s)" % (name, err.strip()))
        if got:
            want = [max(2, round(max(1, round(f["delay"] * 60 / 100)) * 100 / 60)) for f in frames]
            check([f["delay"] for f in frames_of(gdoc)] == want, "%s: ANI delays to the jiffy" % name)


def main():
    cmd, exe, data = sys.argv[1], sys.argv[2], sys.argv[3]
    check = Check()
    with tempfile.TemporaryDirectory() as tmp:
        {"bmp": bmp, "jpeg": jpeg, "icons": icons, "psd": psd, "swf": swf, "pal": pal,
         "roundtrip": roundtrip}[cmd](exe, data, tmp, check)
    return check.done()


if __name__ == "__main__":
    sys.exit(main())
