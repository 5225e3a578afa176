#!/usr/bin/env python3
"""Writes the fuzzers' seed corpus: small valid Targa files of every kind
(types 1, 2, 3 and their run-length forms; depths 8, 15, 16, 24, 32; both row
orders; with and without colour maps and ID fields), each followed by the
three mode bytes the fuzz targets read from the end of an input (FuzzInput.h)."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
from tga_layout import pack_header, pack_rle  # noqa: E402


def header(image_type, depth, w, h, descriptor=0x20, cmap_type=0, cmap_len=0, cmap_bits=0, id_len=0):
    return pack_header(id_len=id_len, map_type=cmap_type, image_type=image_type, map_len=cmap_len,
                       map_bits=cmap_bits, width=w, height=h, depth=depth, descriptor=descriptor)


def main(folder):
    os.makedirs(folder, exist_ok=True)
    w, h = 7, 5
    n = 0
    for image_type, depth in [(1, 8), (2, 15), (2, 16), (2, 24), (2, 32), (3, 8)]:
        size = 2 if depth == 15 else depth // 8
        pixels = [bytes(((x * 37 + y * 11 + k * 5) // (3 if x > 3 else 1)) & 0xFF for k in range(size))
                  for y in range(h) for x in range(w)]
        for compressed in (False, True):
            for descriptor in (0x00, 0x20):
                cmap = b''
                cmap_type = cmap_len = cmap_bits = 0
                if image_type == 1 or (depth == 24 and compressed):
                    cmap_type, cmap_len, cmap_bits = 1, 16 if image_type == 2 else 256, 24
                    cmap = bytes((i * 7) & 0xFF for i in range(3 * cmap_len))
                t = image_type + (8 if compressed else 0)
                ident = b'seed' if descriptor == 0 else b''
                # Raw packets of at most three pixels: packets end inside rows.
                data = pack_rle(pixels, raw_max=3) if compressed else b''.join(pixels)
                body = header(t, depth, w, h, descriptor, cmap_type, cmap_len, cmap_bits, len(ident))
                body += ident + cmap + data
                # Mode, box width, box height: full and preview decodes; for the
                # round trip 16-bit records, padded and negative pitches, a
                # stop, a refused record; boxes with the top bit set.
                for mode in (b'\x00\x00\x00', b'\x01\x02\x01', b'\x06\x05\x03', b'\x1a\x03\x00',
                             b'\x0a\x04\x02', b'\x44\x00\x03', b'\x40\x01\x02', b'\x73\xfb\xfd'):
                    with open(os.path.join(folder, 'seed-%02d' % n), 'wb') as f:
                        f.write(body + mode)
                    n += 1
    print('%d seeds in %s' % (n, folder))


if __name__ == '__main__':
    main(sys.argv[1])
