#!/usr/bin/python3
"""AVI interop against FFmpeg (ffprobe and ffmpeg).

  avi_interop.py import FBINFO
      AVI files FFmpeg makes (raw 24-bit and 8-bit, Video 1, Motion JPEG,
      MPEG-4, Cinepak; with and without audio; several frame rates) are read
      by us with FFmpeg's frame count and size, the delays the stream timing
      gives, and the pictures FFmpeg decodes.

  avi_interop.py export FBINFO GIFDIR
      GIFs written as AVI (uncompressed, RLE8, Video 1) by `fbinfo --write`
      probe without a warning, with the frame count, rate and sample count
      the timing rules predict; FFmpeg decodes them to the pictures we read
      back (exactly for uncompressed and RLE8), and those are the GIF's.

  avi_interop.py audio FBINFO GIFDIR
      An export with the audio of a WAV (and MP3, and Ogg Vorbis) file has both
      streams, the audio whole, copied when AVI can hold it and PCM otherwise.
"""
import json
import math
import os
import struct
import subprocess
import sys
import tempfile

from PIL import Image

TICKS = 100  # delay ticks per second (the default time base)


def run(cmd, env=None):
    return subprocess.run(cmd, capture_output=True, env=env)


def settings_env(tmp, compression, keep24=True):
    """An environment whose settings file stores `compression`: None (no
    compression), or (handler, key frames, quality, flags). With `keep24`
    true-colour frames keep their 24-bit data beside the palette merge's
    pixels, so that pictures read back are the decoded ones exactly."""
    home = os.path.join(tmp, "config-" + (compression[0] if compression else "none") +
                        ("-24" if keep24 else ""))
    folder = os.path.join(home, "norvane", "Flickbook", "2.0")
    os.makedirs(folder, exist_ok=True)
    words = [10, 0, 32, 0, 0, 0x46E, 0x800000, 0, 7, 1, 0x880001, 0, 20, 0, 100, 0, 1, 0, 0]
    lines = ["Flickbook settings 1"]
    if keep24:
        words[6] |= 0x2000000
    if compression is None:
        words[6] |= 0x80000  # "无压缩"
    else:
        handler, key, quality, flags = compression
        record = struct.pack("<4s4s9I", b"\0\0\0\0", handler.encode(), key, quality, 0, flags,
                             0, 0, 0, 0, 0)
        lines.append("AVICompress=binary:" + record.hex())
    lines.append("Pref=binary:" + struct.pack("<19I", *words).hex())
    lines.append("NPref=dword:00000013")
    with open(os.path.join(folder, "settings"), "w") as f:
        f.write("\n".join(lines) + "\n")
    env = dict(os.environ)
    env["XDG_CONFIG_HOME"] = home
    return env


def fbinfo_json(fbinfo, path, *opts, env=None):
    r = run([fbinfo, *opts, path], env=env)
    if r.returncode != 0:
        return None, r.stderr.decode(errors="replace")
    return json.loads(r.stdout), ""


def frames_of(doc):
    return [b for b in doc["blocks"] if b["type"] == "frame"]


def probe(path):
    """ffprobe's streams (with packet counts) and anything it warned about."""
    r = run(["ffprobe", "-v", "warning", "-count_packets", "-show_streams", "-of", "json", path])
    return json.loads(r.stdout or b"{}").get("streams", []), r.stderr.decode(errors="replace").strip()


def decode_warnings(path):
    r = run(["ffmpeg", "-v", "warning", "-i", path, "-f", "null", "-"])
    # The command line notes that a plain PCM format names no channel layout
    # (WAV files give the same note); that is not a fault of the file.
    lines = r.stderr.decode(errors="replace").strip().split("\n")
    return "\n".join(l for l in lines if l and "Guessed Channel Layout" not in l)


def audio_duration(path):
    """Seconds to the end of the last audio packet, as ffprobe lists them."""
    r = run(["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
             "stream=time_base:packet=pts,duration", "-of", "json", path])
    info = json.loads(r.stdout)
    num, den = (int(x) for x in info["streams"][0]["time_base"].split("/"))
    last = info["packets"][-1]
    return (int(last["pts"]) + int(last["duration"])) * num / den


def ffmpeg_frames(path, w, h, high_colour=False):
    """Every picture FFmpeg decodes, one per sample with data, as RGB bytes,
    converted the way we convert. With `high_colour` (a 16-bit video) the
    5-bit channels are widened as we widen them: shifted up by 3."""
    fmt = "rgb555le" if high_colour else "rgb24"
    r = run(["ffmpeg", "-v", "error", "-i", path, "-map", "0:v:0", "-fps_mode", "passthrough",
             "-sws_flags", "bicubic+accurate_rnd+full_chroma_int", "-f", "rawvideo",
             "-pix_fmt", fmt, "-"])
    data = r.stdout
    if high_colour:
        out = bytearray()
        for i in range(0, len(data) - 1, 2):
            v = data[i] | data[i + 1] << 8
            out += bytes(((v >> 10 & 31) << 3, (v >> 5 & 31) << 3, (v & 31) << 3))
        data = bytes(out)
    size = w * h * 3
    return [data[i:i + size] for i in range(0, len(data), size)]


def our_pictures(directory, count, with_alpha=False):
    out = []
    for i in range(count):
        im = Image.open(os.path.join(directory, "frame-%04d.png" % i)).convert("RGBA")
        data = im.tobytes()
        out.append(data if with_alpha else bytes(b for k, b in enumerate(data) if k % 4 != 3))
    return out


def mean_difference(a, b):
    if len(a) != len(b) or not a:
        return float("inf")
    return sum(abs(x - y) for x, y in zip(a, b)) / len(a)


def predicted_samples(delays):
    """Where the export puts each frame, and the stream's step and length."""
    step = 0
    for d in delays:
        step = math.gcd(step, max(d, 1))
    t, positions = 0, []
    for d in delays:
        positions.append(t // step)
        t += max(d, step)
    samples = sorted(set(positions) | {(t - 1) // step})
    return step, positions, samples, samples[-1] + 1


# ---- import ----

SOURCE = ["-f", "lavfi", "-i", "testsrc=size=64x48:rate={rate}:duration=1"]
AUDIO = ["-f", "lavfi", "-i", "sine=frequency=440:duration=1"]


def encoders():
    return run(["ffmpeg", "-hide_banner", "-encoders"]).stdout.decode()


def import_cases():
    cases = [
        ("raw24", "10", ["-c:v", "rawvideo", "-pix_fmt", "bgr24"], None),
        ("pal8", "10", ["-c:v", "rawvideo", "-pix_fmt", "pal8"], None),
        ("msvideo1", "10", ["-c:v", "msvideo1"], None),
        ("mjpeg", "12", ["-c:v", "mjpeg", "-q:v", "2"], None),
        ("mpeg4", "25", ["-c:v", "mpeg4", "-q:v", "2"], None),
        ("cinepak", "15/2", ["-c:v", "cinepak"], None),
        ("raw24+pcm", "10", ["-c:v", "rawvideo", "-pix_fmt", "bgr24"], ["-c:a", "pcm_s16le"]),
        ("mjpeg+pcm", "12", ["-c:v", "mjpeg", "-q:v", "2"], ["-c:a", "pcm_u8"]),
    ]
    mp3 = "libmp3lame" in encoders()
    cases.append(("mpeg4+mp3" if mp3 else "mpeg4+mp2", "25", ["-c:v", "mpeg4", "-q:v", "2"],
                  ["-c:a", "libmp3lame" if mp3 else "mp2"]))
    return cases


def check_import(fbinfo):
    problems = []
    with tempfile.TemporaryDirectory() as tmp:
        for name, rate, video, audio in import_cases():
            path = os.path.join(tmp, name + ".avi")
            cmd = ["ffmpeg", "-v", "error", "-y"] + [a.format(rate=rate) for a in SOURCE]
            if audio:
                cmd += AUDIO
            cmd += video + (audio or []) + [path]
            r = run(cmd)
            if r.returncode != 0:
                problems.append(f"{name}: ffmpeg cannot make it: {r.stderr.decode()}")
                continue
            streams, _ = probe(path)
            v = next(s for s in streams if s["codec_type"] == "video")
            num, den = (int(x) for x in v["time_base"].split("/"))
            listing = run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                           "packet=pts", "-of", "csv=p=0", path]).stdout.decode()
            pts = [int(line.split(",")[0]) for line in listing.split() if line.split(",")[0]]
            end = int(v["nb_frames"])
            # Each frame lasts until the next sample with data: ticks × samples × scale / rate.
            want = [TICKS * (b - a) * num // den for a, b in zip(pts, pts[1:] + [end])]
            doc, err = fbinfo_json(fbinfo, path, "--frames", os.path.join(tmp, name),
                                   env=settings_env(tmp, None))
            if doc is None:
                problems.append(f"{name}: not read: {err}")
                continue
            frames = frames_of(doc)
            if doc["result"] != 1 or len(frames) != len(pts):
                problems.append(f"{name}: {len(frames)} frames (result {doc['result']}), "
                                f"FFmpeg {len(pts)}")
            if (doc["width"], doc["height"]) != (64, 48):
                problems.append(f"{name}: size {doc['width']}x{doc['height']}")
            delays = [f["delay"] for f in frames]
            if delays != want:
                problems.append(f"{name}: delays {delays}, expected {want}")
            if name == "pal8" and any(f["hasRgb"] for f in frames):
                problems.append("pal8: frames were not kept as 8-bit")
            ours = our_pictures(os.path.join(tmp, name), len(frames))
            theirs = ffmpeg_frames(path, 64, 48, high_colour=name == "msvideo1")
            if len(theirs) != len(ours):
                problems.append(f"{name}: FFmpeg decodes {len(theirs)} pictures, we {len(ours)}")
                continue
            # The same decoder and conversion: the same pictures, but for rounding.
            exact = name.startswith(("raw", "pal8", "msvideo1"))
            differs = False
            for i, (a, b) in enumerate(zip(ours, theirs)):
                d = mean_difference(a, b)
                if (exact and a != b) or d > 1:
                    problems.append(f"{name}: picture {i} differs from FFmpeg's (mean {d:.2f})")
                    differs = True
                    break
            if name in ("raw24", "mjpeg"):
                # With the default settings the frames join the document in
                # one adaptive palette: 8-bit frames close to the video.
                mapped_dir = os.path.join(tmp, name + "-mapped")
                mdoc, err = fbinfo_json(fbinfo, path, "--frames", mapped_dir,
                                        env=settings_env(tmp, None, keep24=False))
                mframes = frames_of(mdoc) if mdoc else []
                if not mdoc or any(f["hasRgb"] or f["localPalette"] for f in mframes) \
                        or len(mdoc["globalPalette"]) < 2:
                    problems.append(f"{name}: not mapped into one palette: {err}")
                else:
                    d = max(mean_difference(a, b) for a, b in
                            zip(our_pictures(mapped_dir, len(mframes)), theirs))
                    if d > 6:
                        problems.append(f"{name}: mapped pictures differ by {d:.2f}")
                    print(f"{name}: mapped into {len(mdoc['globalPalette'])} colours, "
                          f"mean difference {d:.2f}")
            if not differs:
                print(f"{name}: {len(frames)} frames, delays {sorted(set(delays))} ticks, "
                      "pictures as FFmpeg's")
    return problems


# ---- export ----

COMPRESSIONS = [
    ("none", None, "rawvideo"),
    ("rle8", ("mrle", 1500, 10000, 4), "msrle"),
    ("video1", ("msvc", 1500, 10000, 0), "msvideo1"),
]


def make_timing_gif(path):
    """Three 8 × 6 frames of 10, 20 and 30 hundredths in one global palette."""
    cmd = ["convert"]
    for k, (delay, colour) in enumerate([(10, (255, 0, 0)), (20, (0, 128, 255)),
                                         (30, (40, 200, 40))]):
        im = Image.new("RGB", (8, 6), colour)
        for x in range(k + 1):
            im.putpixel((x, x % 6), (255, 255, 255))
        png = f"{path}-{k}.png"
        im.save(png)
        cmd += ["-delay", str(delay), png]
    subprocess.run(cmd + ["+map", path], check=True)


def check_export(fbinfo, gifdir):
    problems = []
    with tempfile.TemporaryDirectory() as tmp:
        timing = os.path.join(tmp, "timing.gif")
        make_timing_gif(timing)
        # Files that need only "Fix for AVI", and optimized ones the user
        # unoptimizes first (different transparent indexes).
        # Local palettes are merged into one adaptive palette by the fix (exact
        # while the colours fit in one palette, close otherwise).
        sources = [(timing, [], 12), (os.path.join(gifdir, "cellauto-ffmpeg.gif"), [], 40),
                   (os.path.join(gifdir, "mandelbrot-gifsicle-O3.gif"), ["--unoptimize"], 12),
                   (os.path.join(gifdir, "testsrc2-interlaced-64.gif"), ["--unoptimize"], 12),
                   (os.path.join(gifdir, "life-im-coalesced.gif"), [], 40)]
        # Video 1 codes 4 × 4 blocks in two colours: one-pixel cellular
        # automata are the worst it meets.
        for gif, ops, limit in sources:
            base = os.path.splitext(os.path.basename(gif))[0]
            gif_dir = os.path.join(tmp, base + "-gif")
            gdoc, err = fbinfo_json(fbinfo, gif, "--frames", gif_dir)
            if gdoc is None:
                problems.append(f"{base}: GIF not read: {err}")
                continue
            delays = [f["delay"] for f in frames_of(gdoc)]
            merged = any(f["localPalette"] for f in frames_of(gdoc))
            gif_pictures = our_pictures(gif_dir, len(delays), with_alpha=True)
            step, positions, samples, length = predicted_samples(delays)
            w, h = gdoc["width"], gdoc["height"]
            for label, compression, codec in COMPRESSIONS:
                env = settings_env(tmp, compression)
                out = os.path.join(tmp, f"{base}-{label}.avi")
                r = run([fbinfo, "--quiet", *ops, "--write", out, gif], env=env)
                if r.returncode != 0:
                    problems.append(f"{base} {label}: not written: {r.stderr.decode()}")
                    continue
                if any(n.startswith(".avi-") or n.endswith(".avi1.avi") for n in os.listdir(tmp)):
                    problems.append(f"{base} {label}: temporary files left")
                streams, warnings = probe(out)
                warnings += decode_warnings(out)
                if warnings:
                    problems.append(f"{base} {label}: FFmpeg warns: {warnings}")
                v = streams[0] if streams else {}
                want_rate = f"{TICKS // math.gcd(TICKS, step)}/{step // math.gcd(TICKS, step)}"
                got = (v.get("codec_name"), v.get("nb_frames"), v.get("r_frame_rate"),
                       v.get("nb_read_packets"))
                want = (codec, str(length), want_rate, str(len(samples)))
                if got != want:
                    problems.append(f"{base} {label}: probed {got}, expected {want}")
                size = os.path.getsize(out)

                back_dir = os.path.join(tmp, f"{base}-{label}-back")
                adoc, err = fbinfo_json(fbinfo, out, "--frames", back_dir, env=env)
                if adoc is None:
                    problems.append(f"{base} {label}: not read back: {err}")
                    continue
                back = frames_of(adoc)
                want_delays = [(b - a) * step for a, b in zip(samples, samples[1:] + [length])]
                if [f["delay"] for f in back] != want_delays:
                    problems.append(f"{base} {label}: delays {[f['delay'] for f in back][:8]}..., "
                                    f"expected {want_delays[:8]}...")
                    continue
                ours = our_pictures(back_dir, len(back))
                # FFmpeg decodes our file to the pictures we read back.
                theirs = ffmpeg_frames(out, adoc["width"], adoc["height"],
                                       high_colour=label == "video1")
                if len(theirs) != len(ours):
                    problems.append(f"{base} {label}: FFmpeg {len(theirs)} pictures, we {len(ours)}")
                elif label != "video1" and theirs != ours:
                    bad = next(i for i, (a, b) in enumerate(zip(ours, theirs)) if a != b)
                    problems.append(f"{base} {label}: picture {bad} decodes differently in FFmpeg")
                elif label == "video1":
                    worst = max(mean_difference(a, b) for a, b in zip(ours, theirs))
                    if worst > 0.5:
                        problems.append(f"{base} video1: FFmpeg differs by {worst:.2f}")
                # And they are the GIF's: sample k shows the last frame placed at or before it.
                worst = 0.0
                for k, s in enumerate(samples):
                    i = max(j for j, p in enumerate(positions) if p <= s)
                    g = gif_pictures[i]
                    if label == "video1":
                        # Video 1 pads the picture to whole 4 × 4 blocks.
                        rgb = bytes(b for n, b in enumerate(g) if n % 4 != 3)
                        pw = adoc["width"]
                        crop = b"".join(ours[k][3 * pw * y:3 * (pw * y + w)] for y in range(h))
                        worst = max(worst, mean_difference(rgb, crop))
                        continue
                    if merged:
                        rgb = bytes(b for n, b in enumerate(g) if n % 4 != 3)
                        worst = max(worst, mean_difference(rgb, ours[k]))
                        continue
                    for px in range(w * h):
                        if g[4 * px + 3] == 255 and g[4 * px:4 * px + 3] != ours[k][3 * px:3 * px + 3]:
                            problems.append(f"{base} {label}: sample {s} pixel {px} is not the GIF's")
                            break
                if worst > limit:
                    problems.append(f"{base} video1: mean difference {worst:.1f} from the GIF")
                print(f"{base} {label}: {size} bytes, {len(samples)} samples of {length}, "
                      f"rate {want_rate}" + (f", mean difference {worst:.1f}" if worst else ""))
    return problems


# ---- audio ----

def check_audio(fbinfo, gifdir):
    problems = []
    with tempfile.TemporaryDirectory() as tmp:
        gif = os.path.join(gifdir, "cellauto-ffmpeg.gif")  # 3 s of video
        mp3 = "libmp3lame" in encoders()
        cases = [("wav", ["-c:a", "pcm_s16le", "-ac", "2"], "pcm_s16le"),
                 ("ogg", ["-c:a", "libvorbis" if "libvorbis" in encoders() else "flac"],
                  "pcm_s16le")]
        if mp3:
            cases.append(("mp3", ["-c:a", "libmp3lame"], "mp3"))
        for ext, codec, want_codec in cases:
            audio = os.path.join(tmp, "tone." + ext)
            # Longer than the video: the audio is kept whole.
            r = run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                     "sine=frequency=330:duration=4.5", *codec, audio])
            if r.returncode != 0:
                problems.append(f"{ext}: ffmpeg cannot make it: {r.stderr.decode()}")
                continue
            want_duration = audio_duration(audio)
            for label, compression, _ in COMPRESSIONS[:2]:
                env = settings_env(tmp, compression)
                out = os.path.join(tmp, f"{ext}-{label}.avi")
                r = run([fbinfo, "--quiet", "--avi-audio", audio, "--write", out, gif], env=env)
                if r.returncode != 0:
                    problems.append(f"{ext} {label}: not written: {r.stderr.decode()}")
                    continue
                streams, warnings = probe(out)
                warnings += decode_warnings(out)
                if warnings:
                    problems.append(f"{ext} {label}: FFmpeg warns: {warnings}")
                kinds = [s["codec_type"] for s in streams]
                if kinds != ["video", "audio"]:
                    problems.append(f"{ext} {label}: streams {kinds}")
                    continue
                a = streams[1]
                duration = audio_duration(out)
                if a["codec_name"] != want_codec or abs(duration - want_duration) > 0.05:
                    problems.append(f"{ext} {label}: audio {a['codec_name']} of {duration} s, "
                                    f"expected {want_codec} of {want_duration} s")
                doc, err = fbinfo_json(fbinfo, out, env=env)
                if doc is None or doc["frameCount"] != 60:
                    problems.append(f"{ext} {label}: video not read back: {err}")
                print(f"{ext} {label}: video + {a['codec_name']} audio of {duration} s")
    return problems


def main():
    mode, fbinfo = sys.argv[1], sys.argv[2]
    if mode == "import":
        problems = check_import(fbinfo)
    elif mode == "export":
        problems = check_export(fbinfo, sys.argv[3])
    elif mode == "audio":
        problems = check_audio(fbinfo, sys.argv[3])
    else:
        sys.exit(f"unknown mode {mode}")
    for p in problems:
        print("PROBLEM:", p)
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
