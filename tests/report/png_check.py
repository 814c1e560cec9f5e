"""Checks a report screenshot: not blank, and the timeline plot is drawn.

The plot has a light grey background (#fafafa) that nothing else on the
page uses, and its trial bars are filled with the first two colours of the
palette (#4e79a7, #f28e2b). Reads 8-bit RGB or RGBA PNG files without any
image library.
"""
import struct
import sys
import zlib


def read_png(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG file")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace != 0:
        raise ValueError("unsupported PNG layout %r" % (header,))
    channels = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, prev, at = [], bytearray(stride), 0
    for _ in range(height):
        kind = raw[at]
        line = bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        if kind == 1:
            for i in range(channels, stride):
                line[i] = (line[i] + line[i - channels]) & 0xFF
        elif kind == 2:
            for i in range(stride):
                line[i] = (line[i] + prev[i]) & 0xFF
        elif kind == 3:
            for i in range(stride):
                left = line[i - channels] if i >= channels else 0
                line[i] = (line[i] + ((left + prev[i]) >> 1)) & 0xFF
        elif kind == 4:
            for i in range(stride):
                a = line[i - channels] if i >= channels else 0
                b = prev[i]
                c = prev[i - channels] if i >= channels else 0
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 0xFF
        rows.append(line)
        prev = line
    return width, height, channels, rows


def main(path):
    width, height, channels, rows = read_png(path)
    counts = {}
    for line in rows:
        for i in range(0, len(line), channels):
            key = (line[i], line[i + 1], line[i + 2])
            counts[key] = counts.get(key, 0) + 1
    total = width * height
    white = counts.get((255, 255, 255), 0)
    plot_bg = counts.get((250, 250, 250), 0)
    tone = counts.get((0x4E, 0x79, 0xA7), 0)
    light = counts.get((0xF2, 0x8E, 0x2B), 0)
    print("screenshot %dx%d: %d colours, white %d, plot background %d, bars %d + %d"
          % (width, height, len(counts), white, plot_bg, tone, light))
    problems = []
    if total - white < total // 50:
        problems.append("the page is blank")
    if plot_bg < 60000:
        problems.append("the timeline plot's background is missing")
    if tone < 1500 or light < 1500:
        problems.append("the trial bars of the timeline plot are missing")
    for p in problems:
        print("FAIL: " + p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
