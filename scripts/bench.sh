#!/usr/bin/env bash
# Builds the benchmark (Release) and prints one table: the plug-in's decode,
# preview and encode times against stb_image / stb_image_write and read() of
# the file, in both regimes (as a host calls it, and warm), with peak memory.
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
flags=(--benchmark_min_time=0.5 --benchmark_repetitions=3 --benchmark_report_aggregates_only=true "$@")
"$bin" "${flags[@]}" --benchmark_format=json --benchmark_out="$out/host.json" --benchmark_out_format=json >/dev/null
"$bin" --warm "${flags[@]}" --benchmark_format=json --benchmark_out="$out/warm.json" --benchmark_out_format=json >/dev/null
"$bin" --peak >"$out/peak.txt"
python3 scripts/bench_table.py "$out/host.json" "$out/warm.json" "$out/peak.txt"
