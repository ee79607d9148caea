#!/usr/bin/env python3
"""Draws the loader's icon (icon group 101): a download arrow on a hand-held's screen.

Writes loader-16, -32, -48 and -64 as binary PPM (read by the build) and PNG, 24 bits per pixel,
and all four as loader.ico (the Windows program's icon resource), into the folder of this script. Needs nothing beyond the standard library:

    python3 resources/icon/make_icon.py
"""

import os
import struct
import zlib

SIZES = (16, 32, 48, 64)
BODY = (29, 53, 87)  # the device
SCREEN = (232, 241, 248)
ARROW = (244, 140, 40)
SAMPLES = 6  # per pixel side, for smooth edges


def inside_rounded(u, v, left, top, right, bottom, radius):
    if not (left <= u <= right and top <= v <= bottom):
        return False
    cx = min(max(u, left + radius), right - radius)
    cy = min(max(v, top + radius), bottom - radius)
    return (u - cx) ** 2 + (v - cy) ** 2 <= radius**2


def inside_arrow(u, v):
    if 0.42 <= u <= 0.58 and 0.17 <= v <= 0.42:
        return True
    # Head: a triangle with its base at v=0.38 and its point at (0.5, 0.61).
    if 0.38 <= v <= 0.61:
        half = 0.24 * (0.61 - v) / 0.23
        return abs(u - 0.5) <= half
    return False


def colour_at(u, v):
    if inside_rounded(u, v, 0.13, 0.09, 0.87, 0.69, 0.05):
        return ARROW if inside_arrow(u, v) else SCREEN
    if inside_rounded(u, v, 0.30, 0.77, 0.70, 0.88, 0.055):
        return SCREEN  # the keypad
    return BODY


def render(size):
    pixels = bytearray()
    for y in range(size):
        for x in range(size):
            total = [0, 0, 0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    u = (x + (sx + 0.5) / SAMPLES) / size
                    v = (y + (sy + 0.5) / SAMPLES) / size
                    for i, c in enumerate(colour_at(u, v)):
                        total[i] += c
            pixels.extend(round(t / SAMPLES**2) for t in total)
    return bytes(pixels)


def write_ppm(path, size, pixels):
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (size, size))
        f.write(pixels)


def write_png(path, size, pixels):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    rows = b"".join(b"\x00" + pixels[y * size * 3 : (y + 1) * size * 3] for y in range(size))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(rows, 9)))
        f.write(chunk(b"IEND", b""))


def write_ico(path, images):
    """An icon file of 24-bit device-independent bitmaps: each image is a BITMAPINFOHEADER of
    twice the height (colour rows, then the transparency mask), rows bottom-up, in BGR order,
    each padded to four bytes."""
    entries = []
    for size, pixels in images:
        stride = (size * 3 + 3) & ~3
        mask_stride = ((size + 31) // 32) * 4
        rows = bytearray()
        for y in reversed(range(size)):
            row = pixels[y * size * 3 : (y + 1) * size * 3]
            for x in range(size):
                rows.extend(row[x * 3 : x * 3 + 3][::-1])
            rows.extend(b"\x00" * (stride - size * 3))
        header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 24, 0, 0, 0, 0, 0, 0)
        entries.append((size, header + bytes(rows) + b"\x00" * (mask_stride * size)))
    data = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for size, image in entries:
        data += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 24, len(image), offset)
        offset += len(image)
    with open(path, "wb") as f:
        f.write(data + b"".join(image for _, image in entries))


def main():
    folder = os.path.dirname(os.path.abspath(__file__))
    images = []
    for size in SIZES:
        pixels = render(size)
        images.append((size, pixels))
        write_ppm(os.path.join(folder, "loader-%d.ppm" % size), size, pixels)
        write_png(os.path.join(folder, "loader-%d.png" % size), size, pixels)
    write_ico(os.path.join(folder, "loader.ico"), images)


if __name__ == "__main__":
    main()
