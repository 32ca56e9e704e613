#!/usr/bin/env python3
"""Checks the include lines under src/ against the layer order of the folders.

    check_includes.py --src SRC [--allow FILE] --public HEADER...

A file may include headers of its own folder and of folders below it in LAYERS, never of a folder
above it or beside it. The programs (cli, app, interactive, ui) stand side by side above the core:
each may use any core folder, but only the public headers (given with --public, relative to SRC:
the same list the build exposes to the programs), and none uses another except as PROGRAM_USES
says. A public header may include only public headers. Engine errors are caught (fz_try,
EngineTry) only in pdf/ and extract/.

--allow names a file of known breaches, one "FILE INCLUDE" pair a line (both relative to SRC, the
include as written; text after "#" is a comment). A listed breach is reported but does not fail;
an entry that no longer occurs fails, so the list only shrinks.

Prints one line per breach ("src/FILE:LINE: ...") and exits 1 when any is new or any entry is
stale, else 0.
"""
import argparse
import os
import re
import sys

# The layer order, lowest first; a folder may include only folders listed before it.
LAYERS = [
    ("platform", "Linux counterparts of OS facilities: folders, log, prompts"),
    ("options", "conversion options, job record, settings file"),
    ("pdf", "the engine: contexts, open, password, Info, outline, page loading, rendering"),
    ("extract", "page capture, text runs, layout analysis, pictures, links as data"),
    ("xhtml", "everything that writes book markup: pages, blocks, styles, outline page"),
    ("epub", "ZIP writer and EPUB package"),
    ("worker", "batch conversion and build runs"),
]
# The programs: one rank above every core folder, side by side.
PROGRAMS = ["cli", "app", "interactive", "ui"]
# The only includes between programs: the desktop program's parts share the ui widgets, and the
# app starts the interactive windows.
PROGRAM_USES = {("app", "ui"), ("interactive", "ui"), ("app", "interactive")}

RANK = {folder: rank for rank, (folder, _) in enumerate(LAYERS)}
RANK.update({folder: len(LAYERS) for folder in PROGRAMS})

SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".c")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]')
# Engine errors are turned into results in pdf/ and extract/; nothing above catches them itself.
ENGINE_CATCH = re.compile(r'\b(fz_try|EngineTry)\b')
ENGINE_BOUNDARY = "extract"


def folder_of(rel):
    """The top folder of a path relative to src/, or "" for a file directly in src/."""
    parts = rel.split("/")
    return parts[0] if len(parts) > 1 else ""


def resolve(src, rel_file, spelled, quoted):
    """The included file, relative to src/, or None when it is not a file under src/."""
    candidates = []
    if quoted:
        candidates.append(os.path.join(os.path.dirname(rel_file), spelled))
    candidates.append(spelled)
    for candidate in candidates:
        norm = os.path.normpath(candidate).replace(os.sep, "/")
        if norm.startswith("../"):
            continue
        if os.path.isfile(os.path.join(src, norm)):
            return norm
    # A missing header under a layer folder still names its folder (the compiler reports it).
    if quoted and folder_of(spelled) in RANK:
        return os.path.normpath(spelled).replace(os.sep, "/")
    return None


def judge(rel_file, target, public):
    """Why an include of target (relative to src/) from rel_file breaks the order, or None."""
    source, dest = folder_of(rel_file), folder_of(target)
    if source not in RANK:
        return "folder '%s' is not in the layer table" % (source or "src/")
    if dest not in RANK:
        return "includes %s, outside every layer folder" % target
    if source in PROGRAMS:
        if dest in PROGRAMS:
            if source != dest and (source, dest) not in PROGRAM_USES:
                return "%s includes %s: programs do not include each other" % (source, dest)
            return None
        if target not in public:
            return "%s includes the private header %s" % (source, target)
        return None
    if dest == source:
        pass
    elif RANK[dest] > RANK[source]:
        where = "a program" if dest in PROGRAMS else "above %s" % source
        return "%s includes %s: %s is %s" % (source, target, dest, where)
    if rel_file in public and target not in public:
        return "public header includes the private header %s" % target
    return None


def scan(src, public):
    """Every breach under src/ as (file, line number, include as written, reason)."""
    breaches = []
    for root, dirs, files in os.walk(src):
        dirs.sort()
        for name in sorted(files):
            if not name.endswith(SOURCE_SUFFIXES):
                continue
            path = os.path.join(root, name)
            rel_file = os.path.relpath(path, src).replace(os.sep, "/")
            with open(path, encoding="utf-8", errors="replace") as f:
                above_boundary = RANK.get(folder_of(rel_file), -1) > RANK[ENGINE_BOUNDARY]
                for number, line in enumerate(f, 1):
                    if above_boundary and ENGINE_CATCH.search(line.split("//", 1)[0]):
                        breaches.append((rel_file, number, "fz_try",
                                         "%s catches engine errors; only pdf and extract may"
                                         % folder_of(rel_file)))
                        continue
                    m = INCLUDE.match(line)
                    if not m:
                        continue
                    target = resolve(src, rel_file, m.group(2), m.group(1) == '"')
                    if target is None:
                        continue
                    reason = judge(rel_file, target, public)
                    if reason:
                        breaches.append((rel_file, number, m.group(2), reason))
    return breaches


def read_allowed(path):
    """The allow-list as {(file, include): line number in the list}."""
    allowed = {}
    if not path:
        return allowed
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            words = line.split("#", 1)[0].split()
            if not words:
                continue
            if len(words) != 2:
                raise SystemExit("%s:%d: expected FILE INCLUDE" % (path, number))
            allowed[(words[0], words[1])] = number
    return allowed


def main(argv=None, out=sys.stdout):
    parser = argparse.ArgumentParser(description="Checks includes under src/ against the layers.")
    parser.add_argument("--src", required=True)
    parser.add_argument("--allow")
    parser.add_argument("--public", nargs="*", default=[])
    args = parser.parse_args(argv)

    public = set(args.public)
    failed = False
    for header in sorted(public):
        if not os.path.isfile(os.path.join(args.src, header)):
            print("src/%s: listed as public but missing" % header, file=out)
            failed = True

    allowed = read_allowed(args.allow)
    seen = set()
    new = known = 0
    for rel_file, number, spelled, reason in scan(args.src, public):
        key = (rel_file, spelled)
        if key in allowed:
            seen.add(key)
            known += 1
            print("src/%s:%d: %s (known)" % (rel_file, number, reason), file=out)
        else:
            new += 1
            print("src/%s:%d: %s" % (rel_file, number, reason), file=out)
    for key, number in sorted(allowed.items(), key=lambda item: item[1]):
        if key not in seen:
            print("%s:%d: '%s %s' no longer occurs: remove it" % (args.allow, number, *key), file=out)
            failed = True
    failed = failed or new > 0
    print("%d new breaches, %d known%s" % (new, known, ": FAILED" if failed else ""), file=out)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
