#!/usr/bin/env python3
"""Words run together and words cut apart in a converted book, against the engine's own text.

    bench/glued_words.py [--cli build/quillmark-cli] [-v] FILE.pdf...

Each PDF is converted with quillmark-cli (default options) and read with `mutool draw -F txt`.
Both texts are cut into words at white space (no-break spaces included). A word of one text that
the other does not have, but that equals two or three neighbouring words of the other run
together, is counted as glued in the first:

    glued   words of the book that the engine's text has as separate words ("Smithand")
    split   words of the engine's text that the book has as separate words (the engine glued
            them, or the book cut a word apart)

A line-end hyphen ("exam-" "ple") is never taken for a glued word. With -v the words are listed.
"""
import argparse
import html.parser
import os
import re
import subprocess
import sys
import tempfile
import unicodedata
import zipfile

BLOCK_TAGS = {"p", "div", "br", "h1", "h2", "h3", "h4", "h5", "h6", "li", "tr", "td", "th", "title"}


class _TextOf(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.parts = []

    def handle_starttag(self, tag, attrs):
        if tag in BLOCK_TAGS:
            self.parts.append("\n")

    def handle_endtag(self, tag):
        if tag in BLOCK_TAGS:
            self.parts.append("\n")

    def handle_data(self, data):
        self.parts.append(data)


def book_text(epub):
    """Text of the book's page files in reading (spine) order."""
    with zipfile.ZipFile(epub) as z:
        opf_name = next(n for n in z.namelist() if n.endswith(".opf"))
        opf = z.read(opf_name).decode("utf-8")
        base = os.path.dirname(opf_name)
        hrefs = dict(re.findall(r'<item[^>]*?id="([^"]+)"[^>]*?href="([^"]+)"', opf))
        hrefs.update({i: h for h, i in re.findall(r'<item[^>]*?href="([^"]+)"[^>]*?id="([^"]+)"', opf)})
        spine = re.findall(r'<itemref[^>]*?idref="([^"]+)"', opf)
        text = []
        for idref in spine:
            href = hrefs.get(idref)
            if not href or not re.match(r"page-\d+\.html$", os.path.basename(href)):
                continue
            parser = _TextOf()
            parser.feed(z.read(os.path.join(base, href) if base else href).decode("utf-8"))
            text.append("".join(parser.parts))
        return "\n".join(text)


def words(text):
    return unicodedata.normalize("NFKC", text).split()


LONGEST_RUN = 8  # most words looked for in one glued word


def glued(a, b):
    """Words of `a` missing from `b` that are 2 to LONGEST_RUN neighbouring words of `b` joined."""
    known = set(b)
    joined = set()
    for i in range(len(b)):
        run = b[i]
        for k in range(i + 1, min(len(b), i + LONGEST_RUN)):
            if b[k - 1].endswith("-"):
                break
            run += b[k]
            joined.add(run)
    return [w for w in a if w not in known and w in joined]


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--cli", default=os.path.join(os.path.dirname(__file__), "..", "build", "quillmark-cli"))
    ap.add_argument("-v", action="store_true", help="list the glued and split words")
    ap.add_argument("pdfs", nargs="+")
    args = ap.parse_args()
    print(f"{'document':40} {'pages':>6} {'words':>8} {'glued':>6} {'split':>6}")
    with tempfile.TemporaryDirectory(prefix="glued_") as tmp:
        for pdf in args.pdfs:
            name = os.path.splitext(os.path.basename(pdf))[0]
            subprocess.run([args.cli, "convert", "--quiet", "--overwrite", pdf, "-o", tmp], check=True)
            ours = words(book_text(os.path.join(tmp, name + ".epub")))
            engine_txt = subprocess.run(["mutool", "draw", "-q", "-F", "txt", "-o", "-", pdf],
                                        check=True, capture_output=True).stdout.decode("utf-8", "replace")
            engine = words(engine_txt)
            pages = engine_txt.count("\f") or "?"
            g, s = glued(ours, engine), glued(engine, ours)
            print(f"{name[:40]:40} {pages:>6} {len(ours):>8} {len(g):>6} {len(s):>6}")
            if args.v:
                print("  glued:", " ".join(g))
                print("  split:", " ".join(s))
    return 0


if __name__ == "__main__":
    sys.exit(main())
