#!/usr/bin/python3
"""The default engines write the same bytes as before.

  check_outputs.py check FBINFO DATA_DIR LIST
  check_outputs.py generate FBINFO DATA_DIR LIST

Every GIF and PNG of the test data is run through fbinfo with a set of
operations (plain save, the optimizer under several option words, colour
reduction) and saved as GIF; the SHA-256 of each output is compared with the
list, which was written by the program before the optional engines existed.
Settings come from an empty configuration folder, so the stored defaults hold.
"""
import glob
import hashlib
import os
import subprocess
import sys
import tempfile

# Operations (fbinfo arguments) applied to every input.
GIF_OPERATIONS = [
    [],
    ["--optimize-options", "0x46E"],
    ["--optimize-options", "0x6E"],
    ["--optimize-options", "0x7E"],
    ["--optimize-options", "0x26"],
    ["--optimize-options", "0x28"],
    ["--reduce", "64"],
    ["--reduce", "16", "--dither"],
]
# True-colour inputs go through the adaptive palette on reading.
PNG_OPERATIONS = [[], ["--reduce", "32"]]


def inputs(data):
    gifs = sorted(glob.glob(os.path.join(data, "gif-real", "*.gif")) +
                  glob.glob(os.path.join(data, "gif-suite", "*.gif")))
    pngs = sorted(f for f in glob.glob(os.path.join(data, "pngsuite", "*.png"))
                  if not os.path.basename(f).startswith("x"))
    pngs += sorted(glob.glob(os.path.join(data, "apng", "*.png")))
    for f in gifs:
        for ops in GIF_OPERATIONS:
            yield f, ops
    for f in pngs:
        for ops in PNG_OPERATIONS:
            yield f, ops


def digest(fbinfo, path, ops, tmp, env):
    out = os.path.join(tmp, "out.gif")
    if os.path.exists(out):
        os.remove(out)
    r = subprocess.run([fbinfo, "--quiet", *ops, "--write", out, path], env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if r.returncode != 0 or not os.path.exists(out):
        return f"exit-{r.returncode}"
    with open(out, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def main():
    mode, fbinfo, data, listing = sys.argv[1:5]
    results = {}
    with tempfile.TemporaryDirectory() as tmp:
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(tmp, "config"))
        for path, ops in inputs(data):
            key = os.path.relpath(path, data) + " " + " ".join(ops)
            results[key.strip()] = digest(fbinfo, path, ops, tmp, env)
    if mode == "generate":
        with open(listing, "w") as f:
            for key in sorted(results):
                f.write(f"{results[key]}  {key}\n")
        print(f"{len(results)} outputs listed")
        return
    expected = {}
    with open(listing) as f:
        for line in f:
            h, key = line.rstrip("\n").split("  ", 1)
            expected[key] = h
    bad = [k for k in sorted(expected) if results.get(k) != expected[k]]
    for k in bad[:30]:
        print(f"DIFFERS {k}: {results.get(k)} (was {expected[k]})")
    missing = [k for k in results if k not in expected]
    for k in missing[:10]:
        print(f"NOT LISTED {k}")
    print(f"{len(expected) - len(bad)}/{len(expected)} outputs unchanged")
    sys.exit(1 if bad or missing else 0)


if __name__ == "__main__":
    main()
