#!/usr/bin/env python3
"""Writes the small sample pictures in samples/: one scene (sky at the top,
a sun at the upper left, an arrow pointing up, ground at the bottom) stored
as Targa files of several kinds and as a PNG. The scene makes a picture
delivered upside down or mirrored easy to spot."""
import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests'))
from tga_layout import pack_header, pack_rle  # noqa: E402

W, H = 96, 64


def scene():
    px = []
    for y in range(H):
        row = []
        for x in range(W):
            if y >= 48:  # ground
                c = (60 + (x * 3) % 40, 140 - (y - 48) * 3, 50)
            else:  # sky, lighter towards the horizon
                c = (90 + y * 2, 150 + y, 235)
            if (x - 18) ** 2 + (y - 14) ** 2 <= 64:  # sun, upper left
                c = (250, 210, 40)
            # arrow pointing up, right of centre
            if 14 <= y < 24 and abs(x - 64) <= (y - 14):
                c = (200, 30, 30)
            if 24 <= y < 44 and 60 <= x <= 68:
                c = (200, 30, 30)
            row.append(c)
        px.append(row)
    return px


def header(image_type, depth, descriptor, cmap_len=0):
    return pack_header(map_type=1 if cmap_len else 0, image_type=image_type, map_len=cmap_len,
                       map_bits=24 if cmap_len else 0, width=W, height=H, depth=depth, descriptor=descriptor)


def stored(rows, bottom_up):
    return list(reversed(rows)) if bottom_up else rows


def main(folder):
    os.makedirs(folder, exist_ok=True)
    img = scene()
    bgr = lambda c: bytes((c[2], c[1], c[0]))
    files = {}
    rows = [[bgr(c) for c in r] for r in img]
    files['sample-24-bottom-up.tga'] = header(2, 24, 0x00) + b''.join(b''.join(r) for r in stored(rows, True))
    files['sample-24-rle.tga'] = header(10, 24, 0x20) + pack_rle([p for r in rows for p in r])
    rows32 = [[bgr(c) + b'\xff' for c in r] for r in img]
    files['sample-32.tga'] = header(2, 32, 0x28) + b''.join(b''.join(r) for r in rows32)
    rows16 = [[struct.pack('<H', ((c[0] >> 3) << 10) | ((c[1] >> 3) << 5) | (c[2] >> 3)) for c in r] for r in img]
    files['sample-16.tga'] = header(2, 16, 0x00) + b''.join(b''.join(r) for r in stored(rows16, True))
    grey = [[bytes([(c[0] * 77 + c[1] * 150 + c[2] * 29) >> 8]) for c in r] for r in img]
    files['sample-grey-rle.tga'] = header(11, 8, 0x20) + pack_rle([p for r in grey for p in r])
    # Indexed: each channel quantised to 6 levels (216 colours).
    level = lambda v: min(5, (v * 6) // 256)
    palette = b''.join(bytes((b * 51, g * 51, r * 51)) for r in range(6) for g in range(6) for b in range(6))
    idx = [[bytes([level(c[0]) * 36 + level(c[1]) * 6 + level(c[2])]) for c in r] for r in img]
    files['sample-8-indexed-rle.tga'] = header(9, 8, 0x00, 216) + palette + pack_rle([p for r in stored(idx, True) for p in r])
    for name, data in files.items():
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(data)
    raw = b''.join(b'\x00' + bytes(v for c in r for v in c) for r in img)
    chunk = lambda t, d: struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
    png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', W, H, 8, 2, 0, 0, 0)) + \
        chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')
    with open(os.path.join(folder, 'sample.png'), 'wb') as f:
        f.write(png)
    print('samples written to %s' % folder)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', 'samples'))
