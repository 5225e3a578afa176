#!/usr/bin/env bash
# Builds the benchmark (Release) and prints the tables: the plug-in's decode,
# preview and encode times against stb_image / stb_image_write and read() of
# the file, in both regimes (as a host calls it, and warm), with peak memory;
# then the 32-bit Windows DLL's decode and preview times against stb_image
# built for the same target, the floor, and the reads of a raw preview's rows,
# under Wine (where MinGW-w64 and Wine are installed; TLP_BENCH32_ROUNDS
# rounds, 7 unless set). Both tables give each preview against the full
# decode and against reading the file; each build's export table gives every
# path of the export against the floors: the same bytes to a new file in
# 256 KiB pieces, without and with a flush to the disk (bench/ExportCases.h),
# which each program first checks against the plug-in's own file.
# scripts/bench-export-compare.sh puts two trees' export times side by side.
#   scripts/bench.sh [extra Google Benchmark flags, e.g. --benchmark_repetitions=5]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
for p in libbenchmark-dev libstb-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
    { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$p" >/dev/null; }
done
cmake --preset bench >/dev/null
cmake --build --preset bench -j"$(nproc)" --target tga_bench Targa >/dev/null
out=build/bench/results
mkdir -p "$out"
bin=build/bench/bin/tga_bench
"$bin" --check >/dev/null
flags=(--benchmark_min_time=0.5 --benchmark_repetitions=3 --benchmark_report_aggregates_only=true "$@")
"$bin" "${flags[@]}" --benchmark_format=json --benchmark_out="$out/host.json" --benchmark_out_format=json >/dev/null
"$bin" --warm "${flags[@]}" --benchmark_format=json --benchmark_out="$out/warm.json" --benchmark_out_format=json >/dev/null
"$bin" --peak >"$out/peak.txt"
win=
if command -v i686-w64-mingw32-g++-posix >/dev/null && [ -x /usr/lib/wine/wine64 ]; then
  cmake --preset bench-win32 >/dev/null
  cmake --build --preset bench-win32 -j"$(nproc)" --target tga_bench32 >/dev/null
  win="$out/win32.tsv"
  scripts/wine-run.sh build/bench-win32/bin/tga_bench32.exe --check >"$out/win32.log" 2>&1 ||
    { cat "$out/win32.log" >&2; exit 1; }
  # The driver writes its listing itself (a path relative to the folder it
  # starts in), so that nothing depends on Wine's output.
  scripts/wine-run.sh build/bench-win32/bin/tga_bench32.exe --rounds "${TLP_BENCH32_ROUNDS:-7}" --out "$win" \
    >"$out/win32.log" 2>&1 || { cat "$out/win32.log" >&2; exit 1; }
else
  echo "bench.sh: no MinGW-w64 or Wine here: the Windows table is left out" >&2
fi
python3 scripts/bench_table.py "$out/host.json" "$out/warm.json" "$out/peak.txt" $win
