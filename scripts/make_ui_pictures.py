#!/usr/bin/env python3
"""Draws the desktop program's pictures into src/ui/resources/ (compiled in as ":/ui/<file>").

Button pictures are opaque with magenta (0xFF00FF) where the button's background shows through:
<name>_normal.png and <name>_over.png for every navigation and command button. background.png is
stretched over the main window, page_corner.png drawn into each page's bottom-right corner,
task_pdf.png and task_docs.png stand beside the task page's choices, quillmark.png is the window
icon. Run it again after a change; the output is the same for the same script.
"""
import math
import os
import struct
import sys
import zlib

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "ui", "resources")
MAGENTA = (255, 0, 255, 255)


def png(path, width, height, pixels):
    """pixels: rows of (r, g, b, a) tuples."""
    raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    data += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(data)


def mix(a, b, t):
    return tuple(int(round(x + (y - x) * t)) for x, y in zip(a, b))


def inside_rounded(x, y, w, h, r):
    cx = min(max(x + 0.5, r), w - r)
    cy = min(max(y + 0.5, r), h - r)
    return (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r


def inside_triangle(x, y, pts):
    (x1, y1), (x2, y2), (x3, y3) = pts
    px, py = x + 0.5, y + 0.5
    d1 = (px - x2) * (y1 - y2) - (x1 - x2) * (py - y2)
    d2 = (px - x3) * (y2 - y3) - (x2 - x3) * (py - y3)
    d3 = (px - x1) * (y3 - y1) - (x3 - x1) * (py - y1)
    neg = d1 < 0 or d2 < 0 or d3 < 0
    pos = d1 > 0 or d2 > 0 or d3 > 0
    return not (neg and pos)


def button(name, top, bottom, arrow=None, w=110, h=30):
    rows = []
    for y in range(h):
        row = []
        for x in range(w):
            if not inside_rounded(x, y, w, h, 8):
                row.append(MAGENTA)
            elif not inside_rounded(x - 1, y - 1, w - 2, h - 2, 7):
                row.append(mix(bottom, (40, 60, 90, 255), 0.5))  # border
            else:
                row.append(mix(top, bottom, y / (h - 1)))
            if arrow == "right" and inside_triangle(x, y, [(w - 18, 9), (w - 18, h - 9), (w - 9, h / 2)]):
                row[-1] = (40, 60, 90, 255)
            if arrow == "left" and inside_triangle(x, y, [(18, 9), (18, h - 9), (9, h / 2)]):
                row[-1] = (40, 60, 90, 255)
        rows.append(row)
    png(os.path.join(OUT, name), w, h, rows)


def quill(size, background):
    """A feather over an open page: the program's icon."""
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            u, v = x / size, y / size
            p = background
            if 0.12 < u < 0.88 and 0.55 < v < 0.9:  # page
                p = (250, 250, 245, 255) if abs(u - 0.5) > 0.01 else (150, 150, 150, 255)
            # feather: a band along the diagonal, narrowing to the tip
            t = (u + (1 - v)) / 2
            d = abs((u - (1 - v))) / math.sqrt(2)
            if 0.3 < t < 0.92 and d < 0.12 * math.sin(math.pi * (t - 0.3) / 0.62):
                p = mix((30, 90, 160, 255), (90, 170, 230, 255), (t - 0.3) / 0.62)
            if 0.25 < t < 0.95 and d < 0.012:
                p = (20, 40, 80, 255)
            row.append(p)
        rows.append(row)
    return rows


def main():
    os.makedirs(OUT, exist_ok=True)
    normal = ((236, 242, 250, 255), (196, 212, 234, 255))
    over = ((255, 246, 214, 255), (250, 214, 130, 255))
    for name, arrow in (("prev", "left"), ("next", "right"), ("repeat", None), ("savelog", None),
                        ("help", None), ("about", None), ("review", None)):
        button(name + "_normal.png", *normal, arrow=arrow)
        button(name + "_over.png", *over, arrow=arrow)
    # Main window background: a soft vertical gradient, stretched by the window.
    png(os.path.join(OUT, "background.png"), 8, 64,
        [[mix((246, 249, 253, 255), (214, 226, 242, 255), y / 63)] * 8 for y in range(64)])
    # Page corner: the icon faded into the page, transparent elsewhere.
    corner = quill(96, (0, 0, 0, 0))
    corner = [[(r, g, b, a // 4) for (r, g, b, a) in row] for row in corner]
    png(os.path.join(OUT, "page_corner.png"), 96, 96, corner)
    png(os.path.join(OUT, "quillmark.png"), 64, 64, quill(64, (0, 0, 0, 0)))
    # Task choices: a PDF sheet and a stack of documents.
    def sheet(colour, stacked):
        rows = []
        for y in range(48):
            row = []
            for x in range(48):
                p = (0, 0, 0, 0)
                for off in ((6, 0) if stacked else (0,)):
                    if 10 + off <= x < 34 + off and 6 + off <= y < 40 + off:
                        edge = x in (10 + off, 33 + off) or y in (6 + off, 39 + off)
                        p = (60, 60, 60, 255) if edge else (255, 255, 255, 255)
                        if not edge and 14 + off <= x < 30 + off and (y - off) % 6 == 0 and y > 12 + off:
                            p = colour
                row.append(p)
            rows.append(row)
        return rows
    png(os.path.join(OUT, "task_pdf.png"), 48, 48, sheet((200, 40, 40, 255), False))
    png(os.path.join(OUT, "task_docs.png"), 48, 48, sheet((40, 90, 200, 255), True))
    return 0


if __name__ == "__main__":
    sys.exit(main())
