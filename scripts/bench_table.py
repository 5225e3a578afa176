#!/usr/bin/env python3
"""Turns the benchmark's two JSON reports and its peak-memory listing (with
the bytes a preview reads) into the tables docs/performance.md shows, and with the
32-bit Windows driver's listing a table of those times too. Times are the
best (minimum) of the repetitions' means (Windows: of the rounds), in
milliseconds of wall-clock time.

  bench_table.py host.json warm.json peak.txt [windows.tsv]
  bench_table.py --windows windows.tsv [LIBRARY]   # the Windows table alone
  bench_table.py --compare DIR   # scripts/bench-export-compare.sh's table
  bench_table.py --check         # the comparison's figures from made-up listings

With --compare, DIR holds export listings (bench --exports) named
BUILD.SIDE.N.tsv, BUILD linux or win32, SIDE before or after, one per run.
"""
import glob
import json
import os
import platform
import sys

FLOOR = 'floor-new-256k'


def times(path):
    data = json.load(open(path))
    best = {}
    for b in data['benchmarks']:
        if b.get('aggregate_name') not in (None, 'mean'):
            continue
        name = b.get('run_name', b['name'])
        t = b['real_time']
        if t < best.get(name, (float('inf'), 0))[0]:
            best[name] = (t, b.get('bytes_per_second', 0))
    rate = {n: v[1] for n, v in best.items()}
    return {n: v[0] for n, v in best.items()}, data['context'], rate


def peaks(path):
    """case -> (output KiB, plug-in KiB, stb KiB, file KiB, preview read KiB)"""
    out = {}
    for line in open(path):
        f = line.split()
        if len(f) == 6 and f[1].isdigit():
            out[f[0]] = tuple(int(v) for v in f[1:])
    return out


def windows_times(path):
    """(measure, case) -> best ms, from the driver's listing."""
    out = {}
    for line in open(path):
        f = line.rstrip('\n').split('\t')
        if len(f) == 4:
            out[(f[0], f[1])] = float(f[2])
    return out


def windows_table(path, library=''):
    """The 4096 × 4096 times of the 32-bit DLL under Wine; `library` picks
    one of several plug-ins timed side by side (the driver's label)."""
    t = windows_times(path)
    label = ':' + library if library else ''
    cases = sorted(c for m, c in t if m == 'decode/plugin' + label)
    print('32-bit Windows DLL under Wine, 4096 × 4096, times in ms (best of the rounds):')
    print()
    print('| file | plug-in | stb, from the file | stb, from memory | floor | block touched | file read | '
          'plug-in ÷ floor | stb (file) ÷ plug-in | preview 256 | preview ÷ full | preview ÷ file read | '
          'preview rows, a read each | preview rows, 16 per read | preview ÷ rows read |')
    print('|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|')
    for c in cases:
        get = lambda m: t.get((m, c))
        p, pv = get('decode/plugin' + label), get('preview256/plugin' + label)
        sf, sm, fl, tc, rd = (get(m) for m in ('decode/stb-file', 'decode/stb-memory', 'floor', 'touch', 'read'))
        r1, r16 = get('preview-rows/one-per-read'), get('preview-rows/16-per-read')
        cell = lambda v: '%.2f' % v if v is not None else '-'
        ratio = lambda a, b: '%.2f' % (a / b) if a and b else '-'
        print('| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |' % (
            c.rsplit('/', 1)[0], cell(p), cell(sf), cell(sm), cell(fl), cell(tc), cell(rd), ratio(p, fl),
            ratio(sf, p), cell(pv), ratio(pv, p), ratio(pv, rd), cell(r1), cell(r16),
            ratio(pv, min(r for r in (r1, r16) if r) if r1 or r16 else None)))


def export_table(title, best):
    """The export on each path beside the floors: `best` maps (record, path)
    to the best ms."""
    print(title)
    print()
    print('| record | path | ms | ÷ floor, new file in 256 KiB pieces | ÷ the same, flushed to disk |')
    print('|---|---|---|---|---|')
    for kind in ('kind4', 'kind1'):
        new, flushed = best.get((kind, FLOOR)), best.get((kind, FLOOR + '-flush'))
        for (k, path), ms in sorted(best.items()):
            if k == kind:
                print('| %s | %s | %.2f | %s | %s |' % (k, path, ms, '%.2f' % (ms / new) if new else '-',
                                                     '%.2f' % (ms / flushed) if flushed else '-'))


def compare_best(folder):
    """(build, side) -> {case: best ms over every run's listing}."""
    best = {}
    for path in glob.glob(os.path.join(folder, '*.tsv')):
        build, side = os.path.basename(path).split('.')[:2]
        cases = best.setdefault((build, side), {})
        for (m, _), ms in windows_times(path).items():
            if m.startswith('export/'):
                case = m[len('export/'):]
                cases[case] = min(ms, cases.get(case, float('inf')))
    return best


def listing_order(folder, build):
    """The cases in the order a listing of `build` gives them."""
    for path in sorted(glob.glob(os.path.join(folder, build + '.*.tsv'))):
        return [line.split('\t')[0][len('export/'):] for line in open(path) if line.startswith('export/')]
    return []


def compare_table(folder):
    """Before against after, per build, in the cases' own order (the floors
    first); every line but the floor itself against the floor of its own
    side and record."""
    best = compare_best(folder)
    print('| build | case | before ms | after ms | after ÷ before | before ÷ %s | after ÷ %s |' % (FLOOR, FLOOR))
    print('|---|---|---|---|---|---|---|')
    names = {'linux': 'Linux', 'win32': '32-bit DLL, Wine'}
    for build in ('linux', 'win32'):
        before, after = best.get((build, 'before'), {}), best.get((build, 'after'), {})
        order = {c: i for i, c in enumerate(listing_order(folder, build))}
        cell = lambda v: '%.2f' % v if v is not None else '-'
        ratio = lambda a, b: '%.2f' % (a / b) if a is not None and b else '-'
        for case in sorted(set(before) | set(after), key=lambda c: (order.get(c, len(order)), c)):
            kind, path = case.split('/', 1)
            floor = lambda side: None if path == FLOOR else side.get(kind + '/' + FLOOR)
            b, a = before.get(case), after.get(case)
            print('| %s | %s | %s | %s | %s | %s | %s |' % (names.get(build, build), case, cell(b), cell(a),
                                                            ratio(a, b), ratio(b, floor(before)),
                                                            ratio(a, floor(after))))


def check_compare():
    """compare_table on made-up listings, row by row: the best of the runs,
    each side against its own floor, builds and records kept apart, a case
    one side lacks left blank. Returns what is wrong, or ''."""
    import contextlib
    import io
    import tempfile
    f = 'export/kind4/' + FLOOR
    rows = [
        ('best of the runs',
         {'linux.before.1': [(f, 10), ('export/kind4/plugin-new', 30)],
          'linux.before.2': [(f, 12), ('export/kind4/plugin-new', 20)],
          'linux.before.3': [(f, 11), ('export/kind4/plugin-new', 25)],
          'linux.after.1': [(f, 10), ('export/kind4/plugin-new', 15)]},
         {('Linux', 'kind4/plugin-new'): ['20.00', '15.00', '0.75', '2.00', '1.50'],
          ('Linux', 'kind4/' + FLOOR): ['10.00', '10.00', '1.00', '-', '-']}),
        ('each side against its own floor',
         {'win32.before.1': [(f, 10), ('export/kind4/plugin-new', 40)],
          'win32.after.1': [(f, 20), ('export/kind4/plugin-new', 40)]},
         {('32-bit DLL, Wine', 'kind4/plugin-new'): ['40.00', '40.00', '1.00', '4.00', '2.00']}),
        ('builds and records apart',
         {'linux.before.1': [(f, 10), ('export/kind1/' + FLOOR, 5), ('export/kind1/plugin-new', 10)],
          'linux.after.1': [(f, 10), ('export/kind1/' + FLOOR, 4), ('export/kind1/plugin-new', 12)],
          'win32.before.1': [(f, 1), ('export/kind1/' + FLOOR, 1), ('export/kind1/plugin-new', 99)],
          'win32.after.1': [(f, 1), ('export/kind1/' + FLOOR, 1), ('export/kind1/plugin-new', 99)]},
         {('Linux', 'kind1/plugin-new'): ['10.00', '12.00', '1.20', '2.00', '3.00']}),
        ('a case on one side only',
         {'linux.before.1': [(f, 10), ('export/kind4/plugin-in-place', 30)],
          'linux.after.1': [(f, 10)]},
         {('Linux', 'kind4/plugin-in-place'): ['30.00', '-', '-', '3.00', '-']}),
    ]
    for name, listings, expected in rows:
        with tempfile.TemporaryDirectory() as folder:
            for file, lines in listings.items():
                with open(os.path.join(folder, file + '.tsv'), 'w') as out:
                    out.writelines('%s\t4096\t%.3f\t%.3f\n' % (case, ms, ms) for case, ms in lines)
            text = io.StringIO()
            with contextlib.redirect_stdout(text):
                compare_table(folder)
        got = {}
        for line in text.getvalue().splitlines()[2:]:
            cells = [c.strip() for c in line.strip('|').split('|')]
            got[(cells[0], cells[1])] = cells[2:]
        for key, cells in expected.items():
            if got.get(key) != cells:
                return '%s: %s is %s, not %s' % (name, ' '.join(key), got.get(key), cells)
    return ''


def main(host_json, warm_json, peak_txt, windows_tsv=None):
    host, ctx, _ = times(host_json)
    warm, _, rate = times(warm_json)
    peak = peaks(peak_txt)
    print('Machine: %d CPUs at %.0f MHz, %s. Best of the repetitions; ratios above 1 favour the plug-in.' % (
        ctx.get('num_cpus', 0), ctx.get('mhz_per_cpu', 0), platform.platform()))
    for size, unit, scale in (('4096', 'ms', 1.0), ('64', 'µs', 1000.0)):
        cases = sorted(n.split('/', 2)[2] for n in host
                       if n.startswith('decode/plugin/') and n.endswith('/' + size))
        if not cases:
            continue
        print()
        print('%s × %s, times in %s:' % (size, size, unit))
        print()
        print('| file | plug-in, host | stb, host | new block touched | plug-in ÷ touch (host) | plug-in, warm | '
              'host ÷ warm | MB/s of output (warm) | stb, warm | stb ÷ plug-in (warm) | read() | '
              'plug-in ÷ read() (warm) | preview 256, warm | preview ÷ full (warm) | preview ÷ read() | '
              'preview reads, % of file | peak ÷ output |')
        print('|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|')
        for c in cases:
            ph, sh = host.get('decode/plugin/' + c), host.get('decode/stb/' + c)
            pw, sw = warm.get('decode/plugin/' + c), warm.get('decode/stb/' + c)
            rd, pv = warm.get('read/' + c), warm.get('preview256/plugin/' + c)
            tc = host.get('touch/' + c)
            pk = peak.get(c)
            cell = lambda v: '%.2f' % (v * scale) if v is not None else '-'
            ratio = lambda a, b: '%.2f' % (a / b) if a and b else '-'
            # Resident-memory figures mean nothing for blocks of a few pages.
            pr = ratio(pk[1], pk[0]) if pk and pk[0] >= 1024 else '-'
            # Files of a few KiB are read whole by the first read.
            read = '%.1f' % (100.0 * pk[4] / pk[3]) if pk and pk[3] >= 1024 else '-'
            mbs = rate.get('decode/plugin/' + c)
            print('| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |' % (
                c.rsplit('/', 1)[0], cell(ph), cell(sh), cell(tc), ratio(ph, tc), cell(pw), ratio(ph, pw),
                '%.0f' % (mbs / 1e6) if mbs else '-', cell(sw), ratio(sw, pw),
                cell(rd), ratio(pw, rd), cell(pv), ratio(pv, pw), ratio(pv, rd), read, pr))
    print()
    print('| encode, ms | plug-in, host | stb, host | stb ÷ plug-in |')
    print('|---|---|---|---|')
    for s in ('4096', '64'):
        p, q = host.get('encode/plugin/24/' + s), host.get('encode/stb/24/' + s)
        if p and q:
            print('| 24-bit %s×%s | %.2f | %.2f | %.2f |' % (s, s, p, q, q / p))
    exports = {tuple(n.split('/')[1:3]): v for n, v in host.items() if n.startswith('export/')}
    if exports:
        print()
        export_table('Export of 4096 × 4096 on every path, beside the floors (Linux), times in ms:', exports)
    if windows_tsv:
        print()
        windows_table(windows_tsv)
        exports = {tuple(m.split('/')[1:3]): v for (m, c), v in windows_times(windows_tsv).items()
                   if m.startswith('export/')}
        if exports:
            print()
            export_table('Export of 4096 × 4096 on every path, beside the floors (32-bit DLL under Wine), '
                         'times in ms:', exports)


if __name__ == '__main__':
    if len(sys.argv) > 2 and sys.argv[1] == '--windows':
        windows_table(*sys.argv[2:4])
    elif len(sys.argv) == 3 and sys.argv[1] == '--compare':
        compare_table(sys.argv[2])
    elif sys.argv[1:] == ['--check']:
        error = check_compare()
        print(error or 'bench_table.py: the comparison holds', file=sys.stderr if error else sys.stdout)
        sys.exit(1 if error else 0)
    else:
        main(*sys.argv[1:5])
