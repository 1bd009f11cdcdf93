#!/usr/bin/env python3
"""Writes zidavuvorud.ico, the application icon (resource 108): a chip with pins on a blue tile
and a yellow arrow going down into it, at 16, 32 and 48 pixels, 32-bit with alpha.

Usage: python3 res/make_icon.py [output]   (default: zidavuvorud.ico beside this script)
       python3 res/make_icon.py --png SIZE output.png
The PNG is the same drawing at any size, for the Linux desktop's icon theme (hicolor).
Only the standard library; the output is byte-for-byte the same on every run.
"""
import os
import struct
import sys
import zlib

BLUE = (0x1F, 0x5F, 0xA8)
DARK = (0x20, 0x24, 0x2B)
PIN = (0xC8, 0xCC, 0xD2)
YELLOW = (0xFF, 0xC8, 0x1E)


def pixel(x, y):
    """Colour (r, g, b, a) at the point (x, y) of a unit square, y growing downwards."""
    # Rounded tile.
    r = 0.16
    cx = min(max(x, r), 1 - r)
    cy = min(max(y, r), 1 - r)
    if (x - cx) ** 2 + (y - cy) ** 2 > r * r:
        return (0, 0, 0, 0)
    # Arrow: a shaft and a head pointing down onto the chip.
    if 0.44 <= x <= 0.56 and 0.08 <= y <= 0.34:
        return YELLOW + (255,)
    if 0.30 <= y <= 0.46 and abs(x - 0.5) <= (0.46 - y) * 1.1:
        return YELLOW + (255,)
    # Chip body with pins left and right.
    if 0.30 <= x <= 0.70 and 0.50 <= y <= 0.88:
        return DARK + (255,)
    if (0.20 <= x < 0.30 or 0.70 < x <= 0.80) and 0.50 <= y <= 0.88:
        if int((y - 0.50) / 0.095) % 2 == 0:
            return PIN + (255,)
    return BLUE + (255,)


def rgba_rows(size, samples=4):
    """The image at SIZE pixels, top row first: RGBA with straight (not premultiplied) alpha."""
    rows = []
    for py in range(size):
        row = bytearray()
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    c = pixel((px + (sx + 0.5) / samples) / size,
                              (py + (sy + 0.5) / samples) / size)
                    for i in range(3):
                        acc[i] += c[i] * c[3]
                    acc[3] += c[3]
            a = acc[3] / (samples * samples)
            if acc[3]:
                rgb = [round(acc[i] / acc[3]) for i in range(3)]
            else:
                rgb = [0, 0, 0]
            row += bytes((rgb[0], rgb[1], rgb[2], round(a)))
        rows.append(bytes(row))
    return rows


def image(size):
    """The BITMAPINFOHEADER image of one icon size: bottom-up BGRA rows, then the AND mask."""
    rows = []
    for row in reversed(rgba_rows(size)):
        bgra = bytearray(row)
        bgra[0::4], bgra[2::4] = row[2::4], row[0::4]
        rows.append(bytes(bgra))
    mask_row = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + bytes(mask_row * size)


def png(size):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    # 8-bit RGBA, no filter on any row: small enough at icon sizes, and no timestamp chunk, so
    # the package's file is the same on every build.
    raw = b"".join(b"\0" + row for row in rgba_rows(size))
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--png":
        with open(sys.argv[3], "wb") as f:
            f.write(png(int(sys.argv[2])))
        return
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "zidavuvorud.ico")
    sizes = (16, 32, 48)
    images = [image(s) for s in sizes]
    data = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, img in zip(sizes, images):
        data += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    with open(out, "wb") as f:
        f.write(data + b"".join(images))


if __name__ == "__main__":
    main()
