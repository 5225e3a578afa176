#!/usr/bin/env python3
"""Writes the replay corpus into a folder: the fuzzers' seeds (seeds/), the
kept crashers (crashers/) and COUNT mutants of the seeds (mutants/), made by
a fixed random sequence, so every run writes the same files; and list.txt,
every file's name relative to the folder.

  make_corpus.py FOLDER [COUNT]

The mutants flip bytes, set header fields to edge values, cut files short
and edit run-length packets. Claimed sizes stay mostly small, so that the
replay stays quick; a few claim blocks past what a full import may ask."""
import os
import random
import shutil
import sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, '..', 'fuzz'))
sys.path.insert(0, os.path.join(here, '..'))
import make_seeds  # noqa: E402
from tga_layout import HEADER_FIELDS, pack_header, unpack_header  # noqa: E402

MODE_BYTES = 3  # the fuzz targets' own trailer on every seed

WORD_FIELDS = ('map_first', 'map_len', 'x_origin', 'y_origin', 'width', 'height')
EDGE_VALUES = {
    'id_len': [0, 1, 4, 17, 255],
    'map_type': [0, 1, 2, 255],
    'image_type': [0, 1, 2, 3, 4, 8, 9, 10, 11, 12, 32, 255],
    'map_first': [0, 1, 255, 65535],
    'map_len': [0, 1, 2, 16, 255, 256, 257, 65535],
    'map_bits': [0, 8, 15, 16, 24, 25, 32, 255],
    'x_origin': [0, 1, 65535],
    'y_origin': [0, 1, 65535],
    'width': [0, 1, 2, 3, 6, 8, 64, 255, 256, 257, 1000],
    'height': [0, 1, 2, 4, 6, 8, 64, 255, 256, 1000],
    'depth': [0, 1, 7, 8, 15, 16, 17, 24, 31, 32, 48, 64, 255],
    'descriptor': [0x00, 0x08, 0x10, 0x20, 0x30, 0x40, 0x80, 0xC0, 0xFF],
}


def data_start(fields):
    start = 18 + fields['id_len']
    if fields['map_type'] == 1:
        start += fields['map_len'] * ((fields['map_bits'] + 7) // 8)
    return start


def flip(rng, data):
    for _ in range(rng.randint(1, 4)):
        # Half the flips land in the header, where a byte decides the most.
        i = rng.randrange(18) if rng.random() < 0.5 or len(data) <= 18 else rng.randrange(len(data))
        if i in (13, 15) and rng.random() < 0.9:
            i -= 1  # mostly the low byte of the width or height: large claims cost time
        if i < len(data):
            data[i] ^= 1 << rng.randrange(8) if rng.random() < 0.7 else rng.randrange(1, 256)


def set_field(rng, data):
    fields = unpack_header(bytes(data))
    name = rng.choice(HEADER_FIELDS)
    value = rng.choice(EDGE_VALUES[name] + [fields[name] + 1, max(fields[name] - 1, 0)])
    fields[name] = min(value, 0xFFFF if name in WORD_FIELDS else 0xFF)
    data[:18] = pack_header(**fields)


def claim_large(rng, data):
    # Huge claims on a few bytes of data: full imports past the limit, and
    # previews that must end at the end of the file.
    fields = unpack_header(bytes(data))
    fields['width'], fields['height'] = rng.choice([(65535, 65535), (20000, 20000), (65535, 1), (1, 65535),
                                                    (9000, 10000), (2000, 1500)])
    data[:18] = pack_header(**fields)


def truncate(rng, data):
    start = data_start(unpack_header(bytes(data)))
    cut = rng.choice([rng.randrange(19), 18, start, start + 1, rng.randrange(len(data) + 1)])
    del data[min(cut, len(data)):]


def edit_packets(rng, data):
    fields = unpack_header(bytes(data))
    if fields['image_type'] < 8:
        fields['image_type'] += 8  # raw pixels read as packets
        data[:18] = pack_header(**fields)
        return
    size = max((fields['depth'] + 7) // 8, 1)
    heads = []
    i = data_start(fields)
    while i < len(data):
        heads.append(i)
        i += 1 + (size if data[i] & 0x80 else size * ((data[i] & 0x7F) + 1))
    if not heads:
        return
    at = rng.choice(heads)
    how = rng.randrange(5)
    if how == 0:
        data[at] ^= 0x80  # a run becomes raw pixels and the other way round
    elif how == 1:
        data[at] = (data[at] & 0x80) | 0x7F  # the longest packet, past the rows
    elif how == 2:
        data[at] &= 0x80  # a packet of one pixel
    elif how == 3:
        del data[at:at + rng.randint(1, 4)]
    else:
        data[at:at] = bytes([rng.randrange(256) for _ in range(rng.randint(1, 4))])


def append(rng, data):
    data += bytes(rng.randrange(256) for _ in range(rng.randint(1, 64)))


MUTATIONS = [(flip, 30), (set_field, 30), (truncate, 15), (edit_packets, 20), (append, 4), (claim_large, 1)]


def mutant(rng, seeds):
    data = bytearray(rng.choice(seeds))
    for _ in range(rng.choice([1, 1, 2, 3])):
        step = rng.choices([m for m, _ in MUTATIONS], [w for _, w in MUTATIONS])[0]
        if len(data) >= 18:
            step(rng, data)
    return bytes(data)


def write(path, data):
    # Only what changed: rewriting twelve thousand files costs more than reading them.
    try:
        with open(path, 'rb') as f:
            if f.read() == data:
                return
    except FileNotFoundError:
        pass
    with open(path, 'wb') as f:
        f.write(data)


def main(folder, count):
    seed_dir = os.path.join(folder, 'seeds')
    shutil.rmtree(seed_dir, ignore_errors=True)
    make_seeds.main(seed_dir)
    names = ['seeds/' + n for n in sorted(os.listdir(seed_dir))]
    bases = []
    for n in names:
        with open(os.path.join(folder, n), 'rb') as f:
            bases.append(f.read()[:-MODE_BYTES])
    kept = os.path.join(here, '..', 'fuzz', 'crashers')
    files = {}
    for n in sorted(os.listdir(kept)):
        if n != 'README':
            with open(os.path.join(kept, n), 'rb') as f:
                files['crashers/' + n] = f.read()
    bases = sorted(set(bases + list(files.values())))
    rng = random.Random(20261208)
    for i in range(count):
        files['mutants/m-%05d' % i] = mutant(rng, bases)
    for sub in ('crashers', 'mutants'):
        os.makedirs(os.path.join(folder, sub), exist_ok=True)
        for n in os.listdir(os.path.join(folder, sub)):
            if sub + '/' + n not in files:
                os.remove(os.path.join(folder, sub, n))
    for n, data in files.items():
        write(os.path.join(folder, n), data)
    names += list(files)
    write(os.path.join(folder, 'list.txt'), ''.join(n + '\n' for n in names).encode())
    print('%d files in %s' % (len(names), folder))


if __name__ == '__main__':
    main(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 12000)
