#!/usr/bin/env python3
"""The benchmark's helpers for bench/run: making the trees, checking the sets, the table.

    bench.py make TREE FOLDER        make (or keep) a tree and print its size and fingerprint
    bench.py check SAMELYN_OUT FDUPES_OUT
    bench.py table RESULTS_TSV
"""
import hashlib
import os
import random
import shutil
import statistics
import struct
import subprocess
import sys

# Bump when a tree's recipe changes, so that old trees are made again.
RECIPE = {"real-like": 2, "same-size": 1, "huge": 1}
SEED = 42
MiB = 1024 * 1024
GiB = 1024 * MiB
REAL_SOURCES = ["/usr/share/doc", "/usr/include", "/usr/share/locale", "/usr/share/man"]


def regular_files(root):
    found = []
    for folder, subfolders, files in os.walk(root):
        subfolders.sort()
        for name in sorted(files):
            path = os.path.join(folder, name)
            if os.path.isfile(path) and not os.path.islink(path):
                found.append(path)
    return found


def fingerprint(root):
    """Count, bytes and a digest of the sorted "path size" lines: two trees that agree here
    hold the same names with the same sizes."""
    lines = []
    total = 0
    for path in regular_files(root):
        size = os.lstat(path).st_size
        total += size
        lines.append(os.path.relpath(path, root).encode("utf-8", "surrogateescape") + b" %d" % size)
    lines.sort()
    return len(lines), total, hashlib.sha256(b"\n".join(lines)).hexdigest()[:16]


def seeded_big_file(path, size, block, file_id, last_byte_flip=False):
    # One seeded MiB, marked per MiB with the file's id and the MiB's index: every MiB is
    # different, yet the whole is cheap to make and the same on every machine.
    with open(path, "wb") as out:
        for index in range((size + MiB - 1) // MiB):
            chunk = struct.pack("<QQ", file_id, index) + block[16:]
            out.write(chunk[: min(MiB, size - index * MiB)])
    if last_byte_flip:
        with open(path, "r+b") as out:
            out.seek(size - 1)
            last = out.read(1)[0]
            out.seek(size - 1)
            out.write(bytes([last ^ 0xFF]))


def free_name(folder, name):
    """A name in folder that clashes with nothing there, not even when lower-cased."""
    taken = {n.lower() for n in os.listdir(folder)}
    candidate = name
    n = 1
    while candidate.lower() in taken:
        candidate = "%s.copy%d" % (name, n)
        n += 1
    return candidate


def make_real_like(root, rng):
    os.makedirs(root)
    for source in REAL_SOURCES:
        target = os.path.join(root, os.path.basename(source))
        # Hard links are broken up: fdupes never calls two names of one file duplicates,
        # and we want both tools to answer about the same files.
        subprocess.run(["cp", "-a", "--no-preserve=links", source, target], check=True)
    subprocess.run(["find", root, "-type", "l", "-delete"], check=True)

    files = [p for p in regular_files(root) if os.lstat(p).st_size > 0]
    folders = sorted(f for f, _, _ in os.walk(root))

    # 300 files copied 1 to 3 times into other folders, a quarter of the copies upper-cased.
    for original in rng.sample(files, 300):
        for _ in range(rng.randint(1, 3)):
            home = os.path.dirname(original)
            target = home
            while target == home:
                target = rng.choice(folders)
            name = os.path.basename(original)
            if rng.random() < 0.25:
                name = name.upper()
            shutil.copyfile(original, os.path.join(target, free_name(target, name)))

    for i in range(200):
        target = rng.choice(folders)
        open(os.path.join(target, free_name(target, "empty-%03d" % i)), "wb").close()

    block = rng.randbytes(MiB)
    big = [(60, False), (120, False), (200, False), (150, True)]
    for file_id, (megabytes, differs) in enumerate(big, start=1):
        for copy in range(2):
            target = rng.choice(folders)
            path = os.path.join(target, free_name(target, "big-%d-%d.bin" % (megabytes, copy)))
            seeded_big_file(path, megabytes * MiB, block, file_id, last_byte_flip=differs and copy == 1)


def make_same_size(root, rng):
    os.makedirs(root)
    set_sizes = [rng.randint(2, 4) for _ in range(100)]
    contents = []
    for size in set_sizes:
        contents += [rng.randbytes(4096)] * size
    while len(contents) < 2000:
        contents.append(rng.randbytes(4096))
    rng.shuffle(contents)
    for i, content in enumerate(contents):
        folder = os.path.join(root, "d%02d" % (i // 100))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "f%04d.bin" % i), "wb") as out:
            out.write(content)


def make_huge(root, rng):
    os.makedirs(root)
    middle = rng.randbytes(64)
    for name, differs in (("a.img", False), ("b.img", False), ("c.img", True)):
        with open(os.path.join(root, name), "wb") as out:
            out.truncate(4 * GiB)
            out.seek(2 * GiB)
            out.write(middle)
            if differs:
                out.seek(4 * GiB - 1)
                out.write(b"\x01")


def make(tree, root):
    makers = {"real-like": make_real_like, "same-size": make_same_size, "huge": make_huge}
    if tree not in makers:
        sys.exit("unknown tree %r; known: %s" % (tree, " ".join(makers)))
    stamp = root + ".stamp"
    recipe = "%s recipe %d seed %d\n" % (tree, RECIPE[tree], SEED)
    current = os.path.isdir(root) and os.path.exists(stamp) and open(stamp).read() == recipe
    if not current:
        print("making %s in %s ..." % (tree, root), flush=True)
        if os.path.exists(stamp):
            os.remove(stamp)
        shutil.rmtree(root, ignore_errors=True)
        makers[tree](root, random.Random(SEED))
        with open(stamp, "w") as out:
            out.write(recipe)
    count, total, digest = fingerprint(root)
    print("tree %s: %d files, %.1f MB, fingerprint %s%s"
          % (tree, count, total / 1e6, digest, "" if not current else " (kept from an earlier run)"))


class Groups:
    """Connected groups of paths: union-find over the pairs given."""

    def __init__(self):
        self.parent = {}

    def find(self, x):
        self.parent.setdefault(x, x)
        while self.parent[x] != x:
            self.parent[x] = self.parent[self.parent[x]]
            x = self.parent[x]
        return x

    def join(self, a, b):
        self.parent[self.find(a)] = self.find(b)

    def sets(self):
        by_root = {}
        for x in self.parent:
            by_root.setdefault(self.find(x), set()).add(x)
        return {frozenset(s) for s in by_root.values() if len(s) > 1}


def samelyn_sets(path):
    groups = Groups()
    with open(path, "rb") as f:
        for raw in f:
            line = raw.rstrip(b"\n").decode("utf-8", "surrogateescape")
            a, sep, b = line.partition(" <--> ")
            if not sep:
                sys.exit("not a line of equal files: %r" % line)
            if a != b:  # two files whose lower-cased paths are one text
                groups.join(a, b)
    return groups.sets()


def fdupes_sets(path):
    # Samelyn shows lower-cased paths, so compare lower-cased; names that differ only in
    # case become one text, and groups that meet in such a text become one.
    groups = Groups()
    with open(path, "rb") as f:
        for block in f.read().split(b"\n\n"):
            members = [m.decode("utf-8", "surrogateescape").lower() for m in block.split(b"\n") if m]
            for member in members[1:]:
                if member != members[0]:
                    groups.join(members[0], member)
    return groups.sets()


def check(samelyn_out, fdupes_out):
    ours = samelyn_sets(samelyn_out)
    theirs = fdupes_sets(fdupes_out)
    if ours == theirs:
        print("sets match: %d sets of equal files, %d files in them"
              % (len(ours), sum(len(s) for s in ours)))
        return 0
    only_ours = sorted(ours - theirs, key=sorted)
    only_theirs = sorted(theirs - ours, key=sorted)
    print("!" * 72)
    print("MISMATCH: Samelyn found %d sets, fdupes %d; %d only in Samelyn, %d only in fdupes"
          % (len(ours), len(theirs), len(only_ours), len(only_theirs)))
    for title, sets in (("only in Samelyn", only_ours), ("only in fdupes", only_theirs)):
        for s in sets[:5]:
            members = sorted(s)
            print("  %s: %s%s" % (title, ", ".join(members[:4]), " ..." if len(members) > 4 else ""))
    print("!" * 72)
    return 1


def table(results_tsv):
    """Rows of the results file: tree, tool, seconds, peak kilobytes, then for Samelyn loads,
    yields, the longest pause in ms and the seconds of gathering, bucketing and comparing."""
    runs = {}
    order = []
    with open(results_tsv) as f:
        for line in f:
            fields = line.rstrip("\n").split("\t")
            key = (fields[0], fields[1])
            if key not in runs:
                runs[key] = []
                order.append(key)
            runs[key].append(fields[2:])

    def median(key):
        return statistics.median(float(r[0]) for r in runs[key])

    print("| tree | tool | runs | median s | peak MB | Samelyn's time ÷ tool's "
          "| Samelyn: loads, yields, longest pause (worst run), gathering / buckets / comparing s (median run) |")
    print("|---|---|---:|---:|---:|---:|---|")
    for tree, tool in order:
        key = (tree, tool)
        seconds = median(key)
        peak = max(float(r[1]) for r in runs[key]) / 1024
        ours = (tree, "samelyn")
        ratio = ""
        extra = ""
        if tool == "samelyn":
            middle = sorted(runs[key], key=lambda r: float(r[0]))[(len(runs[key]) - 1) // 2]
            pause = max(float(r[4]) for r in runs[key])
            extra = "%s loads, %s yields, %.1f ms; %s / %s / %s" % (
                format(int(middle[2]), ","), format(int(middle[3]), ","), pause, middle[5], middle[6], middle[7])
        elif ours in runs and seconds > 0:
            ratio = "%.2f×" % (median(ours) / seconds)
        print("| %s | %s | %d | %.2f | %.1f | %s | %s |"
              % (tree, "Samelyn" if tool == "samelyn" else tool, len(runs[key]), seconds, peak, ratio, extra))


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "make":
        make(sys.argv[2], os.path.abspath(sys.argv[3]))
    elif len(sys.argv) == 4 and sys.argv[1] == "check":
        sys.exit(check(sys.argv[2], sys.argv[3]))
    elif len(sys.argv) == 3 and sys.argv[1] == "table":
        table(sys.argv[2])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
