#!/usr/bin/env bash
# The plug-in's main job through the reference host: builds the native plug-in
# and tga-host, then reads every shipped sample through the plug-in (file
# check, information text, full image and preview as PNG) and writes Targa
# files through its export. Results land in out/ for a person to look at.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

source scripts/apt.sh
missing=()
for p in cmake g++ libpng-dev pkg-config; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "+ apt-get install ${missing[*]}"
  apt_install "${missing[@]}" || { echo "run.sh: cannot build without ${missing[*]}" >&2; exit 1; }
fi

cmake -S . -B build/run -DCMAKE_BUILD_TYPE=Release -DTLP_TESTS=OFF >/dev/null
cmake --build build/run -j"$(nproc)" >/dev/null
host=build/run/bin/tga-host
out=out
mkdir -p "$out"

# Each command is printed as it can be pasted back into a shell here.
run() {
  local line
  printf -v line '%q ' "$@"
  echo "\$ ${line% }"
  "$@"
  echo
}

run "$host" about
run "$host" info samples/sample-24-bottom-up.tga samples/sample.png || true
for f in samples/*.tga; do
  name=$(basename "$f" .tga)
  run "$host" import "$f" -o "$out/$name.png"
  run "$host" import "$f" -o "$out/$name-preview.png" --preview 32x32
done
run "$host" convert samples/sample-8-indexed-rle.tga "$out/sample-8-indexed.tga"
run "$host" convert samples/sample-24-rle.tga "$out/sample-24.tga"
run "$host" info "$out/sample-8-indexed.tga"
# The export path end to end: the host converts sample.png as each method
# asks and the plug-in writes it; the import shows what the file holds.
for m in 0 1 3 4 5; do
  run "$host" export --method "$m" samples/sample.png "$out/sample-method$m.tga"
  run "$host" import "$out/sample-method$m.tga" -o "$out/sample-method$m.png"
done
echo "Pictures to look at: $(ls "$out"/*.png | tr '\n' ' ')"
