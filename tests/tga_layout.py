"""The Targa layout for the Python helpers: the 18-byte header and the
run-length packer. tests/host/tga_files.py, tests/fuzz/make_seeds.py,
tests/replay/make_corpus.py and scripts/make-samples.py import it from here."""
import struct

HEADER = struct.Struct('<BBBHHBHHHHBB')
HEADER_FIELDS = ('id_len', 'map_type', 'image_type', 'map_first', 'map_len', 'map_bits',
                 'x_origin', 'y_origin', 'width', 'height', 'depth', 'descriptor')


def pack_header(**fields):
    """The 18 header bytes; fields not given are 0."""
    unknown = set(fields) - set(HEADER_FIELDS)
    if unknown:
        raise TypeError('no header field ' + ', '.join(sorted(unknown)))
    return HEADER.pack(*(fields.get(name, 0) for name in HEADER_FIELDS))


def unpack_header(data):
    """The header fields of the first 18 bytes of data, by name."""
    return dict(zip(HEADER_FIELDS, HEADER.unpack(data[:HEADER.size])))


def pack_rle(pixels, raw_max=128):
    """Run-length packets of pixels (a list of equal-sized byte strings): a
    run packet for every two or more equal pixels in a row, raw packets of
    at most raw_max pixels between them, each ending where a run starts."""
    out = bytearray()
    i = 0
    while i < len(pixels):
        run = 1
        while i + run < len(pixels) and run < 128 and pixels[i + run] == pixels[i]:
            run += 1
        if run > 1:
            out += bytes([0x80 | (run - 1)]) + pixels[i]
            i += run
            continue
        j = i + 1
        while j < len(pixels) and j - i < raw_max and (j + 1 >= len(pixels) or pixels[j + 1] != pixels[j]):
            j += 1
        out += bytes([j - i - 1]) + b''.join(pixels[i:j])
        i = j
    return bytes(out)
