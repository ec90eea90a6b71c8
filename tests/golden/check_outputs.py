#!/usr/bin/python3
"""The default engines write the same bytes as before.

  check_outputs.py check FBINFO DATA_DIR LIST
  check_outputs.py generate FBINFO DATA_DIR LIST

Every GIF and PNG of the test data is run through fbinfo with a set of
operations (plain save, the optimizer under several option words, colour
reduction) and saved as GIF; the SHA-256 and size of each output are compared
with the list, which was written by the program before the optional engines
existed. Settings come from an empty configuration folder, so the stored
defaults hold.

Where the main line's own changes later changed what the default engines
write (damaged files refused, colours that fit kept exactly), the list took
the outputs of that program, still without the optional engines.

One thing changed on purpose since: an optimization whose result is not
smaller than the document's current encoding is not taken. Where the listed
result was not smaller, the output must be the plain save of the document.
"""
import glob
import hashlib
import json
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


def output(fbinfo, path, ops, tmp, env):
    """(sha256, size) of what fbinfo writes, or (exit-N, 0)."""
    out = os.path.join(tmp, "out.gif")
    if os.path.exists(out):
        os.remove(out)
    r = subprocess.run([fbinfo, "--quiet", *ops, "--write", out, path], env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if r.returncode != 0 or not os.path.exists(out):
        return f"exit-{r.returncode}", 0
    with open(out, "rb") as f:
        data = f.read()
    return hashlib.sha256(data).hexdigest(), len(data)


def document_size(fbinfo, path, env):
    """The document's current encoding as the optimizer compares against it."""
    r = subprocess.run([fbinfo, path], env=env, capture_output=True, text=True)
    doc = json.loads(r.stdout)
    return doc["encodedSize"] if doc["encodedSize"] >= 0 else doc["computedEncodedSize"]


def key(data, path, ops):
    return (os.path.relpath(path, data) + " " + " ".join(ops)).strip()


def main():
    mode, fbinfo, data, listing = sys.argv[1:5]
    results = {}
    with tempfile.TemporaryDirectory() as tmp:
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(tmp, "config"))
        for path, ops in inputs(data):
            results[key(data, path, ops)] = output(fbinfo, path, ops, tmp, env)
        if mode == "generate":
            with open(listing, "w") as f:
                for k in sorted(results):
                    f.write(f"{results[k][0]} {results[k][1]}  {k}\n")
            print(f"{len(results)} outputs listed")
            return
        expected = {}
        with open(listing) as f:
            for line in f:
                head, k = line.rstrip("\n").split("  ", 1)
                h, size = head.split(" ")
                expected[k] = (h, int(size))
        bad = []
        not_taken = 0
        for k in sorted(expected):
            got, want = results.get(k), expected[k]
            if got and got[0] == want[0]:
                continue
            path, _, rest = k.partition(" ")
            if rest.startswith("--optimize-options") and not want[0].startswith("exit"):
                # Not taken: allowed only where the listed result was no smaller.
                doc = document_size(fbinfo, os.path.join(data, path), env)
                plain = expected.get(path)
                if want[1] >= doc and plain and got[0] == plain[0]:
                    not_taken += 1
                    continue
            bad.append(k)
    for k in bad[:30]:
        print(f"DIFFERS {k}: {results.get(k)} (was {expected[k]})")
    missing = [k for k in results if k not in expected]
    for k in missing[:10]:
        print(f"NOT LISTED {k}")
    print(f"{len(expected) - len(bad)}/{len(expected)} outputs as before "
          f"({not_taken} optimizations not taken, being no smaller)")
    sys.exit(1 if bad or missing else 0)


if __name__ == "__main__":
    main()
