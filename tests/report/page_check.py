#!/usr/bin/env python3
"""Renders a run's report.html in headless Chromium and checks what a reader
sees: a screenshot that is not blank, and a page (as the browser built it)
with the outcome banner, every number of the run's summary.json and no
script. Prints "PASS ..." or "FAIL ...: why" for each check; exits 1 on any
failure.

    page_check.py REPORT_HTML SCREENSHOT_PNG
"""
import json
import os
import re
import struct
import subprocess
import sys
import zlib

CHROMIUM = ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
            "--window-size=1000,1400"]
# The summary's members and the labels of their bars on the page.
BARS = [("patients", "Patienter"), ("lookedUp", "Uppslagna"), ("unchanged", "Oförändrade"),
        ("notFound", "Ej funna"), ("failedLookups", "Misslyckade uppslagningar"),
        ("failedSaves", "Misslyckade sparanden"), ("malformedNumbers", "Felaktiga personnummer"),
        ("sharedKeys", "Delade PATIENTNR"), ("notLookedUp", "Ej uppslagna")]
BANNERS = {0: "ok", 1: "problems", 2: "stopped", 3: "unreachable"}

failures = 0


def check(name, ok, why=""):
    global failures
    print(("PASS " + name) if ok else ("FAIL %s: %s" % (name, why)))
    if not ok:
        failures += 1


def png_pixels(data):
    """The RGB(A) rows of an 8-bit truecolour PNG, unfiltered; None for any other PNG."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    pos, idat, header = 8, b"", None
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    if not header or header[2] != 8 or header[3] not in (2, 6) or header[6] != 0:
        return None
    width, height, channels = header[0], header[1], 3 if header[3] == 2 else 4
    raw, stride = zlib.decompress(idat), width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        previous = line
    return width, height, channels, rows


def main():
    html, png = sys.argv[1], sys.argv[2]
    url = "file://" + os.path.abspath(html)
    summary = json.load(open(os.path.join(os.path.dirname(html), "summary.json"), encoding="utf-8"))

    if os.path.exists(png):
        os.remove(png)
    subprocess.run(CHROMIUM + ["--screenshot=" + png, url], capture_output=True, timeout=120)
    data = open(png, "rb").read() if os.path.exists(png) else b""
    pixels = png_pixels(data) if data else None
    check("screenshot made", pixels is not None, "no 8-bit PNG at " + png)
    if pixels:
        width, height, channels, rows = pixels
        colours, inked = set(), 0
        for row in rows[::4]:
            for x in range(0, width * channels, channels * 4):
                rgb = row[x:x + 3]
                colours.add(rgb)
                inked += min(rgb) < 200
        sampled = len(rows[::4]) * len(range(0, width * channels, channels * 4))
        check("screenshot not blank", (width, height) == (1000, 1400) and len(colours) >= 8 and inked > sampled // 100,
              "%dx%d, %d colours, %d of %d sampled pixels inked" % (width, height, len(colours), inked, sampled))

    dom = subprocess.run(CHROMIUM + ["--dump-dom", url], capture_output=True, timeout=120).stdout.decode("utf-8")
    check("no script", "<script" not in dom.lower(), "a script element in the page")
    banner = BANNERS.get(summary["exitCode"], "stopped")
    check("outcome banner", re.search(r'<div class="banner %s" id="outcome">' % banner, dom) is not None,
          "no banner of class %s for exit code %s" % (banner, summary["exitCode"]))
    bars = BARS + [("saved", "Skulle sparas" if summary["mode"] == "preview" else "Sparade")]
    missing = [label for member, label in bars
               if not re.search(r">%s</text><rect [^>]*></rect><text [^>]*>%d</text>" % (re.escape(label), summary[member]), dom)
               and not re.search(r">%s</text><rect [^>]*/><text [^>]*>%d</text>" % (re.escape(label), summary[member]), dom)]
    check("the run's numbers", not missing, "no bar with the summary's value for " + ", ".join(missing))
    sys.exit(1 if failures else 0)


main()
