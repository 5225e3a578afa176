#!/usr/bin/env python3
"""Pictures for the tga-host export tests, and checks of what it wrote.

  tga_files.py make DIR
      writes the test pictures (PNG files of few and many colours, with
      alpha, in grey) into DIR
  tga_files.py check OUT.tga REF --kind 24|16|8 --pixels HOW [--colours N]
      OUT.tga must be an uncompressed top-down Targa file of that kind, with
      exactly the bytes its header announces, and its pixels must match REF
      (a PNG or uncompressed Targa file) as HOW says:
        exact     every pixel equal
        step      every channel within the 5-bit rounding step (4)
        diffused  per pixel within 32, 4 x 4 block means within 6
        windows   every pixel the nearest colour of the 256-colour Windows
                  palette of tga-host, which the palette must be
      --colours N: the colour map holds exactly N entries; 'distinct': as
      many as REF has colours
  tga_files.py same A B
      A and B (PNG or uncompressed Targa) hold the same pixels
  tga_files.py png OUT.png TYPE DEPTH [--gamma G] [--trns V,...] SAMPLE...
      one row of pixels of PNG colour type TYPE (0, 2, 4, 6) at DEPTH bits,
      with a gAMA chunk of G (100000 = 1.0), and a tRNS chunk naming the
      transparent grey or colour V,..., if given
  tga_files.py hostile OUT.png KIND
      a small PNG made to hurt a reader (see HOSTILE)
  tga_files.py header OUT WIDTH HEIGHT
      a Targa header (OUT.tga) or a PNG header with an empty IDAT (OUT.png)
      announcing a picture of that size, and no pixels
Only the standard library: PNG through zlib, Targa by hand."""
import os
import random
import struct
import sys
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
from tga_layout import pack_header, unpack_header  # noqa: E402


def fail(message):
    print('tga_files: ' + message, file=sys.stderr)
    sys.exit(1)


# ---- PNG ------------------------------------------------------------------

def png_chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xFFFFFFFF)


def write_png(path, width, height, pixels, colour_type=2, depth=8, gamma=None, trns=None):
    """pixels: rows of tuples (grey), (r, g, b) or (r, g, b, a); trns: the
    transparent grey or colour."""
    sample = struct.Struct('>B' if depth == 8 else '>H').pack
    raw = b''.join(b'\x00' + b''.join(sample(v) for p in row for v in p) for row in pixels)
    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n' +
                png_chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, depth, colour_type, 0, 0, 0)) +
                (png_chunk(b'gAMA', struct.pack('>I', gamma)) if gamma is not None else b'') +
                (png_chunk(b'tRNS', struct.pack('>%dH' % len(trns), *trns)) if trns else b'') +
                png_chunk(b'IDAT', zlib.compress(raw)) + png_chunk(b'IEND', b''))


def inflating(size):
    """zlib data that inflates to `size` zero bytes."""
    c = zlib.compressobj(9)
    block = bytes(1 << 20)
    return b''.join(c.compress(block) for _ in range(size >> 20)) + c.flush()


def bad_crc(chunk):
    return chunk[:-1] + bytes([chunk[-1] ^ 0xFF])


# Small PNG files made to hurt a reader. Each is a signature, IHDR and the
# chunks named; 'rgb' pictures hold (10, 20, 30), (200, 100, 50); 'indexed'
# ones a palette of two entries and the indices 0, 1, 5 and 255.
HOSTILE = {
    # zTXt, compressed iTXt and iCCP chunks inflating to 512 MB each, and a
    # damaged tEXt: none of them is needed, so all are passed over.
    'text': ('rgb', lambda z: [png_chunk(b'zTXt', b'Comment\0\0' + z),
                               png_chunk(b'iTXt', b'Comment\0\1\0\0\0' + z),
                               png_chunk(b'iCCP', b'icc\0\0' + z),
                               bad_crc(png_chunk(b'tEXt', b'Title\0x'))], None),
    # 44 bytes, an iTXt claiming 2 GiB - 1 and holding 3 (a reader that
    # believes it takes 2 GB before it finds out).
    'claim': (None, None, struct.pack('>I', 0x7FFFFFFF) + b'iTXtabc'),
    'toolong': (None, None, struct.pack('>I', 0x80000000) + b'IDATabc'),
    'indexed': ('indexed', lambda z: [], None),
    'crc-IDAT': ('rgb', lambda z: [], b'IDAT'),
    'crc-PLTE': ('indexed', lambda z: [], b'PLTE'),
}


def write_hostile(path, kind):
    picture, extra, tail = HOSTILE[kind]
    out = b'\x89PNG\r\n\x1a\n'
    colour_type = 3 if picture == 'indexed' else 2
    out += png_chunk(b'IHDR', struct.pack('>IIBBBBB', 2 if picture == 'rgb' else 4, 1, 8, colour_type, 0, 0, 0))
    if picture is None:
        open(path, 'wb').write(out + tail)
        return
    chunks = extra(inflating(512 << 20) if kind == 'text' else b'')
    if picture == 'indexed':
        chunks.append(png_chunk(b'PLTE', bytes([1, 2, 3, 4, 5, 6])))
        raw = bytes([0, 0, 1, 5, 255])
    else:
        raw = bytes([0, 10, 20, 30, 200, 100, 50])
    chunks.append(png_chunk(b'IDAT', zlib.compress(raw)))
    chunks = [bad_crc(c) if c[4:8] == tail else c for c in chunks]
    open(path, 'wb').write(out + b''.join(chunks) + png_chunk(b'IEND', b''))


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def read_png(path):
    """8-bit, non-interlaced PNG of colour type 0, 2, 4 or 6 as rows of RGB,
    alpha flattened onto white (only 0 and 255 occur in our pictures)."""
    data = open(path, 'rb').read()
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        fail(path + ': not a PNG file')
    pos, idat, header = 8, b'', None
    while pos < len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b'IHDR':
            header = struct.unpack('>IIBBBBB', body)
        elif kind == b'IDAT':
            idat += body
        pos += 12 + length
    width, height, depth, colour_type, _, _, interlace = header
    channels = {0: 1, 2: 3, 4: 2, 6: 4}.get(colour_type)
    if depth != 8 or interlace or not channels:
        fail(path + ': a PNG kind these tests do not read')
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            line[i] = (line[i] + [0, a, b, (a + b) // 2, paeth(a, b, c)][kind]) & 0xFF
        previous = line
        row = []
        for x in range(width):
            p = line[x * channels:(x + 1) * channels]
            rgb = (p[0], p[0], p[0]) if channels <= 2 else tuple(p[:3])
            alpha = p[-1] if channels in (2, 4) else 255
            if alpha == 0:
                rgb = (255, 255, 255)
            row.append(rgb)
        rows.append(row)
    return width, height, rows


# ---- Targa -------------------------------------------------------------------

def widen5(v):
    return (v * 255 + 15) // 31


def read_tga(path):
    """An uncompressed Targa file as (header fields, colour map, rows of RGB,
    rows of indices or None)."""
    data = open(path, 'rb').read()
    if len(data) < 18:
        fail(path + ': shorter than a Targa header')
    h = unpack_header(data)
    id_len, map_type, image_type, map_first, map_len, map_bits = (
        h['id_len'], h['map_type'], h['image_type'], h['map_first'], h['map_len'], h['map_bits'])
    width, height, depth, descriptor = h['width'], h['height'], h['depth'], h['descriptor']
    if image_type not in (1, 2) or id_len or map_first:
        fail('%s: image type %d, id %d, map start %d: not what tga-host writes' %
             (path, image_type, id_len, map_first))
    pos = 18
    cmap = []
    if map_type:
        if map_bits != 24:
            fail(path + ': colour map of %d bits' % map_bits)
        for i in range(map_len):
            b, g, r = data[pos + 3 * i:pos + 3 * i + 3]
            cmap.append((r, g, b))
        pos += 3 * map_len
    bpp = depth // 8
    expected = pos + width * height * bpp
    if len(data) != expected:
        fail('%s: %d bytes, the header announces %d' % (path, len(data), expected))
    rows, indices = [], [] if image_type == 1 else None
    for y in range(height):
        line = data[pos + y * width * bpp:pos + (y + 1) * width * bpp]
        row = []
        for x in range(width):
            p = line[x * bpp:(x + 1) * bpp]
            if bpp == 1:
                if p[0] >= len(cmap):
                    fail('%s: index %d past the colour map' % (path, p[0]))
                row.append(cmap[p[0]])
            elif bpp == 2:
                w = p[0] | (p[1] << 8)
                if w & 0x8000:
                    fail('%s: bit 15 set at %d,%d' % (path, x, y))
                row.append((widen5((w >> 10) & 31), widen5((w >> 5) & 31), widen5(w & 31)))
            else:
                row.append((p[2], p[1], p[0]))
        rows.append(row)
        if indices is not None:
            indices.append(list(line))
    # Bottom-up files read the last row first.
    if not descriptor & 0x20:
        rows.reverse()
        if indices is not None:
            indices.reverse()
    header = dict(type=image_type, depth=depth, width=width, height=height, map_len=map_len)
    return header, cmap, rows, indices


def read_any(path):
    with open(path, 'rb') as f:
        if f.read(8) == b'\x89PNG\r\n\x1a\n':
            return read_png(path)[2]
    return read_tga(path)[2]


# ---- tga-host's Windows palette, built here independently ----------------------

def windows_palette():
    first = [0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
             0xC0DCC0, 0xA6CAF0]
    last = [0xFFFBF0, 0xA0A0A4, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF,
            0x00FFFF, 0xFFFFFF]
    split = lambda c: (c >> 16, (c >> 8) & 0xFF, c & 0xFF)
    cube = [(51 * r, 51 * g, 51 * b) for r in range(6) for g in range(6) for b in range(6)]
    greys = [(round(255 * k / 21),) * 3 for k in range(1, 21)]
    return [split(c) for c in first] + cube + greys + [split(c) for c in last]


def nearest(palette, c):
    d = [sum((a - b) ** 2 for a, b in zip(p, c)) for p in palette]
    return d.index(min(d))  # the lowest index among equals


# ---- Commands ------------------------------------------------------------------

def make(folder):
    five = [(255, 0, 0), (0, 128, 0), (0, 0, 255), (255, 255, 255), (17, 34, 51)]
    few = [[five[(x + y) % 5] for x in range(7)] for y in range(5)]
    write_png(folder + '/few.png', 7, 5, few)
    many = [[(x * 7, y * 15, (x * y) % 256) for x in range(33)] for y in range(17)]
    write_png(folder + '/many.png', 33, 17, many)
    alpha = [[(200, 10 * x, 30, 0 if (x + y) % 3 == 0 else 255) for x in range(6)] for y in range(4)]
    write_png(folder + '/alpha.png', 6, 4, alpha, colour_type=6)
    grey = [[(x * 28 + y,) for x in range(9)] for y in range(3)]
    write_png(folder + '/grey.png', 9, 3, grey, colour_type=0)
    # 194 levels of grey with noise, as a scan gives: few enough for a colour
    # map, and smaller filtered than not.
    noise = random.Random(194)
    grey194 = [[(round(255 * min(193, max(0, (x + y) * 193 // 498 + noise.randint(-3, 3))) / 193),)
                for x in range(300)] for y in range(200)]
    write_png(folder + '/grey194.png', 300, 200, grey194, colour_type=0)


def check(out, ref, kind, how, colours):
    header, cmap, rows, indices = read_tga(out)
    want = read_any(ref)
    depth = {'24': 24, '16': 16, '8': 8}[kind]
    if header['depth'] != depth or header['type'] != (1 if depth == 8 else 2):
        fail('%s: type %d, %d bits; wanted %s bits' % (out, header['type'], header['depth'], kind))
    if (header['height'], header['width']) != (len(want), len(want[0])):
        fail('%s: %d x %d, the reference is %d x %d' %
             (out, header['width'], header['height'], len(want[0]), len(want)))
    if colours is not None and header['map_len'] != colours:
        fail('%s: %d colour map entries, wanted %d' % (out, header['map_len'], colours))
    if depth == 8 and not 1 <= header['map_len'] <= 256:
        fail('%s: %d colour map entries' % (out, header['map_len']))
    worst = 0
    for y, (got_row, want_row) in enumerate(zip(rows, want)):
        for x, (g, w) in enumerate(zip(got_row, want_row)):
            error = max(abs(a - b) for a, b in zip(g, w))
            worst = max(worst, error)
            if how == 'exact' and error:
                fail('%s: %s at %d,%d, wanted %s' % (out, g, x, y, w))
            if how == 'step' and error > 4:
                fail('%s: %s at %d,%d, more than a 5-bit step from %s' % (out, g, x, y, w))
            if how == 'diffused' and error > 32:
                fail('%s: %s at %d,%d, too far from %s' % (out, g, x, y, w))
            if how == 'windows' and indices[y][x] != nearest(cmap, w):
                fail('%s: index %d at %d,%d; the nearest colour to %s is %d' %
                     (out, indices[y][x], x, y, w, nearest(cmap, w)))
    if how == 'windows' and cmap != windows_palette():
        fail(out + ': the colour map is not the Windows palette of tga-host')
    if how == 'diffused':
        block = 0
        for by in range(0, len(want) - 3, 4):
            for bx in range(0, len(want[0]) - 3, 4):
                for ch in range(3):
                    s = sum(rows[y][x][ch] - want[y][x][ch] for y in range(by, by + 4) for x in range(bx, bx + 4))
                    block = max(block, abs(s) / 16)
        if block > 6:
            fail('%s: a 4 x 4 block mean is %.1f off' % (out, block))
    print('%s: %d-bit, %d colours in the map, worst channel error %d' %
          (out, depth, header['map_len'], worst))


def main(argv):
    if len(argv) >= 2 and argv[0] == 'make':
        make(argv[1])
    elif len(argv) >= 4 and argv[0] == 'png':
        colour_type, depth, rest = int(argv[2]), int(argv[3]), argv[4:]
        opts = {}
        while rest[:1] in (['--gamma'], ['--trns']):
            opts[rest[0]], rest = rest[1], rest[2:]
        gamma = int(opts['--gamma']) if '--gamma' in opts else None
        trns = [int(v) for v in opts['--trns'].split(',')] if '--trns' in opts else None
        samples = [int(v) for v in rest]
        n = {0: 1, 2: 3, 4: 2, 6: 4}[colour_type]
        pixels = [tuple(samples[i:i + n]) for i in range(0, len(samples), n)]
        write_png(argv[1], len(pixels), 1, [pixels], colour_type, depth, gamma, trns)
    elif len(argv) == 3 and argv[0] == 'hostile':
        write_hostile(argv[1], argv[2])
    elif len(argv) == 4 and argv[0] == 'header':
        width, height = int(argv[2]), int(argv[3])
        with open(argv[1], 'wb') as f:
            if argv[1].endswith('.png'):
                f.write(b'\x89PNG\r\n\x1a\n' +
                        png_chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0)) +
                        png_chunk(b'IDAT', zlib.compress(b'')) + png_chunk(b'IEND', b''))
            else:
                f.write(pack_header(image_type=2, width=width, height=height, depth=24, descriptor=0x20))
    elif len(argv) == 3 and argv[0] == 'same':
        a, b = read_any(argv[1]), read_any(argv[2])
        if a != b:
            fail('%s and %s differ' % (argv[1], argv[2]))
    elif len(argv) >= 3 and argv[0] == 'check':
        opts = dict(zip(argv[3::2], argv[4::2]))
        colours = opts.get('--colours')
        if colours == 'distinct':
            colours = len({p for row in read_any(argv[2]) for p in row})
        elif colours is not None:
            colours = int(colours)
        check(argv[1], argv[2], opts['--kind'], opts['--pixels'], colours)
    else:
        print(__doc__, file=sys.stderr)
        sys.exit(2)


if __name__ == '__main__':
    main(sys.argv[1:])
