#!/usr/bin/env python3
"""Installs the build into a temporary prefix and checks the installed tree the
way a desktop and a user meet it: the exact list of files, the desktop entry
and the metainfo through their validators, the manual page through man with
warnings on (and the same text as --help), the icons' sizes, and the installed
programs running from there."""

import argparse
import gzip
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

# The types a file manager offers to open with the editor.
MIME_TYPES = {
    "image/gif", "image/png", "image/apng", "video/x-msvideo", "image/bmp", "image/jpeg",
    "image/vnd.adobe.photoshop", "image/vnd.microsoft.icon", "image/x-win-bitmap",
    "application/x-navi-animation",
}

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)
    return ok


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, **kw)


def installed_tree(prefix):
    """Every file and every empty folder below prefix, relative."""
    out = set()
    for root, dirs, files in os.walk(prefix):
        rel = os.path.relpath(root, prefix)
        for f in files:
            out.add(os.path.normpath(os.path.join(rel, f)))
        if not dirs and not files:
            out.add(rel + "/")
    return out


def check_tree(prefix, app, sizes, samples, pages):
    expected = {
        "bin/flickbook", "bin/fbinfo",
        f"share/applications/{app}.desktop",
        f"share/metainfo/{app}.metainfo.xml",
        "share/man/man1/flickbook.1.gz",
        f"share/icons/hicolor/scalable/apps/{app}.svg",
    }
    expected |= {f"share/flickbook/samples/{s}" for s in samples}
    expected |= {f"share/flickbook/{p}" for p in pages}
    expected |= {f"share/icons/hicolor/{n}x{n}/apps/{app}.png" for n in sizes}
    got = installed_tree(prefix)
    check(not expected - got, f"missing from the install: {sorted(expected - got)}")
    check(not got - expected, f"installed but not expected: {sorted(got - expected)}")
    for exe in ("bin/flickbook", "bin/fbinfo"):
        check(os.access(os.path.join(prefix, exe), os.X_OK), f"{exe} is not executable")


def check_desktop_entry(prefix, app):
    path = os.path.join(prefix, "share/applications", app + ".desktop")
    r = run(["desktop-file-validate", path])
    # It prints warnings and hints with status 0: any word from it is a fault.
    check(r.returncode == 0 and not (r.stdout + r.stderr).strip(),
          f"desktop-file-validate: {r.stdout}{r.stderr}")
    keys = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            if "=" in line and not line.startswith("#"):
                k, v = line.rstrip("\n").split("=", 1)
                keys[k] = v
    check(keys.get("Exec") == "flickbook %F", f"Exec is {keys.get('Exec')!r}")
    check(keys.get("Icon") == app, f"Icon is {keys.get('Icon')!r}")
    types = {t for t in keys.get("MimeType", "").split(";") if t}
    check(types == MIME_TYPES, f"MimeType differs: {sorted(types ^ MIME_TYPES)}")


def check_metainfo(prefix, app):
    path = os.path.join(prefix, "share/metainfo", app + ".metainfo.xml")
    r = run(["appstreamcli", "validate", "--no-net", path])
    check(r.returncode == 0, f"appstreamcli validate: {r.stdout}{r.stderr}")
    root = ET.parse(path).getroot()
    check(root.findtext("id") == app, "the metainfo id is not the application id")
    check(root.findtext("launchable") == app + ".desktop",
          "the metainfo does not launch the desktop entry")


def normalised(text):
    """Lower case, typographic quotes and dashes as ASCII, whitespace as one space."""
    for a, b in (("\u2018", "'"), ("\u2019", "'"), ("\u2010", "-"), ("\u2212", "-"),
                 ("\u2013", "-"), ("\u201c", '"'), ("\u201d", '"')):
        text = text.replace(a, b)
    return " ".join(text.lower().split())


def check_manual(prefix, help_text):
    page = os.path.join(prefix, "share/man/man1/flickbook.1.gz")
    env = dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8", MANROFFSEQ="", MAN_KEEP_FORMATTING="")
    env.pop("MANPAGER", None)
    env.pop("PAGER", None)
    r = run(["man", "--warnings", "-E", "UTF-8", "-l", page], env=env)
    check(r.returncode == 0 and r.stdout.strip(), f"man -l failed: {r.stderr}")
    check(not r.stderr.strip(), f"man -l warned: {r.stderr}")
    shown = normalised(r.stdout)
    check(shown.startswith("flickbook(1)"), "the page is not flickbook(1)")
    # Every line of --help appears in the page (titles as headings, the usage
    # lines as the synopsis): the two come from one text.
    for line in help_text.splitlines():
        line = re.sub(r"^usage:", "", line.strip()).rstrip(":")
        if line:
            check(normalised(line) in shown, f"--help line not in the manual page: {line!r}")
    with gzip.open(page, "rt", encoding="utf-8") as f:
        check(f.readline().startswith(".TH FLICKBOOK 1 "), "the page has no .TH line")


def png_header(path):
    with open(path, "rb") as f:
        head = f.read(33)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    width, height, depth, colour = struct.unpack(">IIBB", head[16:26])
    return width, height, depth, colour


def check_icons(prefix, app, sizes):
    for n in sizes:
        path = os.path.join(prefix, f"share/icons/hicolor/{n}x{n}/apps/{app}.png")
        if os.path.exists(path):
            check(png_header(path) == (n, n, 8, 6), f"{path} is not an {n}x{n} RGBA PNG")
    svg = os.path.join(prefix, f"share/icons/hicolor/scalable/apps/{app}.svg")
    if os.path.exists(svg):
        root = ET.parse(svg).getroot()
        check(root.tag == "{http://www.w3.org/2000/svg}svg", "the scalable icon is no SVG")
        check(root.get("viewBox") == "0 0 256 256", "the scalable icon has no square viewBox")


def document(fbinfo, path, env):
    r = run([fbinfo, path], env=env)
    if not check(r.returncode == 0, f"fbinfo {path}: {r.stderr}"):
        return {}
    return json.loads(r.stdout)


def check_programs(prefix, work, version):
    flickbook = os.path.join(prefix, "bin/flickbook")
    fbinfo = os.path.join(prefix, "bin/fbinfo")
    # Settings of this run only.
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"))
    r = run([flickbook, "--version"], env=env)
    check(r.returncode == 0 and r.stdout == f"flickbook {version}\n",
          f"--version said {r.stdout!r} {r.stderr!r}")
    help_run = run([flickbook, "--help"], env=env)
    check(help_run.returncode == 0, "--help failed")

    sample = os.path.join(prefix, "share/flickbook/samples/bouncing-ball.gif")
    out = os.path.join(work, "out.gif")
    r = run([flickbook, "-i", sample, "-o", out], env=env, cwd=work)
    check(r.returncode == 0 and os.path.isfile(out),
          f"the batch conversion failed ({r.returncode}): {r.stderr}")
    if os.path.isfile(out):
        a, b = document(fbinfo, sample, env), document(fbinfo, out, env)
        for key in ("width", "height", "frameCount"):
            check(a.get(key) is not None and a.get(key) == b.get(key),
                  f"the converted sample's {key} is {b.get(key)}, not {a.get(key)}")
    return help_run.stdout


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--cmake", required=True)
    p.add_argument("--build", required=True)
    p.add_argument("--samples", required=True, help="the source samples folder")
    p.add_argument("--data", required=True, help="the source data folder (help, tutorial)")
    p.add_argument("--version", required=True)
    p.add_argument("--app-id", required=True)
    p.add_argument("--icon-sizes", required=True, help="sizes separated by ';'")
    args = p.parse_args()
    sizes = [int(s) for s in args.icon_sizes.split(";")]
    samples = sorted(os.listdir(args.samples))
    pages = []
    for part in ("help", "tutorial"):
        for root, _, files in os.walk(os.path.join(args.data, part)):
            pages += [os.path.relpath(os.path.join(root, f), args.data) for f in files]
    check(any(p.endswith("help.htm") for p in pages), "no help page in the sources")

    work = tempfile.mkdtemp(prefix="fb-install-")
    try:
        prefix = os.path.join(work, "prefix")
        r = run([args.cmake, "--install", args.build, "--prefix", prefix])
        if not check(r.returncode == 0, f"cmake --install failed: {r.stdout}{r.stderr}"):
            return 1
        check_tree(prefix, args.app_id, sizes, samples, pages)
        check_desktop_entry(prefix, args.app_id)
        check_metainfo(prefix, args.app_id)
        check_icons(prefix, args.app_id, sizes)
        help_text = check_programs(prefix, work, args.version)
        check_manual(prefix, help_text)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        print(f"{len(failures)} check(s) failed", file=sys.stderr)
        return 1
    print("the installed tree is complete and every check passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
