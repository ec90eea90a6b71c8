#!/usr/bin/python3
"""The editor's editing commands through fbinfo, and its external editor
against ImageMagick.

  editing_interop.py FBINFO DIR
      On GIFs of DIR (a global palette; local palettes):
      - each command does what it says, read back from fbinfo's JSON, and a
        refused one exits 1 with its message and nothing written;
      - every command run, then as many --undo: the document printed is the
        document read; --redo of them all: the document the commands made;
      - the external editor with `convert FILE -flop FILE` as the editor
        shows the pictures --flip-frames h shows, on one frame and on the
        animation (a layered PSD); an editor that saves nothing is no step;
        one that fails is a failure.
"""
import json
import os
import stat
import subprocess
import sys
import tempfile

from PIL import Image, ImageChops


def run(cmd):
    return subprocess.run(cmd, capture_output=True, text=True)


def doc(fbinfo, path, *opts):
    r = run([fbinfo, *opts, path])
    if r.returncode != 0:
        raise AssertionError(f"fbinfo {' '.join(opts)} failed: {r.stderr.strip()}")
    return json.loads(r.stdout)


def frames(d):
    return [b for b in d["blocks"] if b["type"] == "frame"]


def comments(d):
    return [b["text"] for b in d["blocks"] if b["type"] == "extension" and "text" in b]


def pictures(fbinfo, path, tmp, *opts):
    out = tempfile.mkdtemp(dir=tmp)
    r = run([fbinfo, "--quiet", *opts, "--frames", out, path])
    if r.returncode != 0:
        raise AssertionError(f"fbinfo {' '.join(opts)} failed: {r.stderr.strip()}")
    return [Image.open(os.path.join(out, n)).convert("RGBA") for n in sorted(os.listdir(out))]


def same_pictures(a, b):
    if len(a) != len(b):
        return False
    for p, q in zip(a, b):
        if p.size != q.size:
            return False
        # Pixels transparent in both may differ in colour.
        pa, qa = p.getchannel("A"), q.getchannel("A")
        if ImageChops.difference(pa, qa).getbbox():
            return False
        black = Image.new("RGBA", p.size)
        if ImageChops.difference(Image.composite(p, black, pa),
                                 Image.composite(q, black, qa)).getbbox():
            return False
    return True


def script(tmp, name, body):
    path = os.path.join(tmp, name)
    with open(path, "w") as f:
        f.write("#!/bin/sh\n" + body + "\n")
    os.chmod(path, stat.S_IRWXU)
    return path


def commands(d):
    """Every editing command, with a check of its result on the JSON."""
    f1 = frames(d)[1]
    w, h = f1["width"], f1["height"]
    n = d["frameCount"]
    clear = [i for i in range(len(d["globalPalette"]))
             if all(not f["transparent"] or f["transparentIndex"] != i for f in frames(d))]
    a, b = clear[:2]
    return [
        (["--select", "1,2", "--frame-props", "delay=7,disposal=2,name=walk, then run"],
         lambda e: [f["delay"] for f in frames(e)[1:3]] == [7, 7]
         and frames(e)[2]["name"] == "walk, then run" and frames(e)[2]["disposal"] == 2
         and frames(e)[0]["delay"] == frames(d)[0]["delay"]),
        (["--frame-props", "interlaced=1"],
         lambda e: all(f["imageFlags"] & 0x40 for f in frames(e))),
        (["--animation-props", "width=300,play-count=4"],
         lambda e: e["width"] == 300 and e["height"] == d["height"] and e["playCount"] == 4),
        (["--delays", ",".join(str(i) for i in range(n))],
         lambda e: [f["delay"] for f in frames(e)] == list(range(n))),
        (["--comment-add", "first", "--comment-add", "second", "--comment-set", "0=changed",
          "--comment-remove", "1"],
         lambda e: comments(e) == ["changed"] + comments(d)),
        (["--select", "1", "--rotate-frames", "90"],
         lambda e: (frames(e)[1]["width"], frames(e)[1]["height"]) == (h, w)),
        (["--select", "1", "--flip-frames", "v"],
         lambda e: frames(e)[1]["pixelHash"] != f1["pixelHash"] or h == 1),
        (["--select", "1", "--resize-frames", "5x4"],
         lambda e: (frames(e)[1]["width"], frames(e)[1]["height"]) == (5, 4)),
        (["--select", "1", "--move-crop", "9,8,1,1,3,2"],
         lambda e: [frames(e)[1][k] for k in ("left", "top", "width", "height")] == [9, 8, 3, 2]),
        (["--palette", "global", "--palette-set", "1=010203,040506"],
         lambda e: e["globalPalette"][1:3] == ["010203", "040506"]),
        # Two entries made alike: neither a transparent index, which stays apart.
        (["--palette", "global", "--palette-set", f"{b}={d['globalPalette'][a]}", "--palette-merge"],
         lambda e: len(e["globalPalette"]) < len(d["globalPalette"])
         and len(set(e["globalPalette"])) >= len(e["globalPalette"]) - 1),
        (["--select", "1", "--paint", "3:0,0,1,0", "--fill", "2,1,3", "--pick-transparent", "0,0"],
         lambda e: frames(e)[1]["transparent"] and frames(e)[1]["transparentIndex"] == 3
         and frames(e)[1]["pixelHash"] != f1["pixelHash"]),
    ]


def check_commands(fbinfo, path, tmp):
    problems = []
    d = doc(fbinfo, path)
    everything = []
    for opts, ok in commands(d):
        e = doc(fbinfo, path, *opts)
        if not ok(e):
            problems.append(f"{' '.join(opts)}: not as asked")
        everything += opts
    steps = sum(1 for o in everything if o.startswith("--") and o not in ("--select", "--palette"))
    done = doc(fbinfo, path, *everything)
    if doc(fbinfo, path, *everything, *["--undo"] * steps) != d:
        problems.append("undoing every step does not give back the document read")
    if doc(fbinfo, path, *everything, *["--undo"] * steps, *["--redo"] * steps) != done:
        problems.append("redoing every step does not give back the edited document")
    if run([fbinfo, "--quiet", *everything, *["--undo"] * (steps + 1), path]).returncode != 1:
        problems.append("--undo with nothing left to undo does not fail")

    # A palette saved and loaded back; the file's colours replace the palette's.
    pal = os.path.join(tmp, "p.pal")
    doc(fbinfo, path, "--palette", "global", "--palette-set", "0=fe0001", "--palette-save", pal)
    if doc(fbinfo, path, "--palette-load", pal)["globalPalette"][0] != "fe0001":
        problems.append("a saved palette file does not load back")

    # Refusals: exit 1, the message, nothing written.
    out = os.path.join(tmp, "never.gif")
    for opts, message in (
        (["--delays", "1,2"], "delays were given, but the animation has"),
        (["--frame-props", "delay=70000"], "延迟必须在范围0 到65535内"),
        (["--select", "1", "--fill", "100000,0,1"], ""),
    ):
        r = run([fbinfo, "--quiet", *opts, "--write", out, path])
        if r.returncode != 1 or message not in r.stderr or os.path.exists(out):
            problems.append(f"{' '.join(opts)} is not refused cleanly: {r.returncode} "
                            f"{r.stderr.strip()}")
    return problems


def check_external_editor(fbinfo, path, tmp):
    problems = []
    flop = script(tmp, "flop", 'exec convert "$1" -flop "$1"')
    for ours, theirs in ((["--select", "2", "--co-edit", flop], ["--select", "2", "--flip-frames", "h"]),
                         (["--co-edit-animation", flop], ["--flip", "h"])):
        if not same_pictures(pictures(fbinfo, path, tmp, *ours), pictures(fbinfo, path, tmp, *theirs)):
            problems.append(f"{' '.join(ours[:-1])} with ImageMagick's -flop is not {' '.join(theirs)}")
    d = doc(fbinfo, path)
    if doc(fbinfo, path, "--select", "2", "--co-edit", "true") != d:
        problems.append("an editor that saved nothing changed the document")
    if run([fbinfo, "--quiet", "--co-edit", "true", "--undo", path]).returncode != 1:
        problems.append("an editor that saved nothing left an undo step")
    if run([fbinfo, "--quiet", "--co-edit", "false", path]).returncode != 1:
        problems.append("a failing editor is not a failure")
    return problems


def main():
    fbinfo, folder = sys.argv[1], sys.argv[2]
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        for name, checks in (("cellauto-ffmpeg.gif", (check_commands, check_external_editor)),
                             ("screen-sprite-ffmpeg.gif", (check_commands,)),
                             ("testsrc-localpal-ffmpeg.gif", (check_external_editor,))):
            for check in checks:
                try:
                    problems = check(fbinfo, os.path.join(folder, name), tmp)
                except AssertionError as e:
                    problems = [str(e)]
                for p in problems:
                    print(f"FAIL {name} ({check.__name__}): {p}")
                failures += len(problems)
    print("every editing command as asked" if not failures else f"{failures} problems")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
