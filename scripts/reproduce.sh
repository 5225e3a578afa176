#!/usr/bin/env bash
# Builds the packages a second time, from a copy of the sources in another
# folder (build/reproduce/src, another depth and name) and at another time,
# and fails unless every package is the same, byte for byte, as the one
# scripts/package.sh made in build/packages/. A difference names the package,
# the file inside it and the first byte where they part.
#
#   scripts/reproduce.sh [PRESET...]    default: win32, the product
#
# The copy builds only what the packages hold (no tests). The packages of the
# first build are made here first if they are not there yet.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(win32)
other=$root/build/reproduce

fail() { echo "reproduce: $*" >&2; exit 1; }

SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -c safe.directory="$root" log -1 --format=%ct)} || fail "no commit to date the packages by"
export SOURCE_DATE_EPOCH

# The sources as they are in this checkout, committed or not; no builds.
rm -rf "$other"
mkdir -p "$other/src"
git -c safe.directory="$root" ls-files -z --cached --others --exclude-standard |
  tar --null --ignore-failed-read -T - -cf - 2>/dev/null | tar -C "$other/src" -xf -

# The offset, from 0, of the first byte where two files part (where the
# shorter ends, when it is the start of the other).
first_difference() {
  LC_ALL=C cmp "$1" "$2" 2>&1 | awk '
    / differ: (byte|char) / { sub(/,.*/, ""); print $NF - 1; exit }
    /EOF on .* after (byte|char) / { sub(/,.*/, ""); print $NF; exit }
    /EOF on .* which is empty/ { print 0; exit }'
}

# Names each file inside the two packages that differs, with its first
# differing byte.
differences_inside() {
  local a=$other/unpacked-first b=$other/unpacked-again f
  rm -rf "$a" "$b" && mkdir -p "$a" "$b"
  (cd "$a" && cmake -E tar xf "$1") && (cd "$b" && cmake -E tar xf "$2")
  { diff <(cd "$a" && find . -type f | LC_ALL=C sort) <(cd "$b" && find . -type f | LC_ALL=C sort) || true; } |
    sed -n 's|^< \./|  only in the first: |p; s|^> \./|  only in the second: |p'
  for f in $(cd "$a" && find . -type f | LC_ALL=C sort); do
    if [ -f "$b/$f" ] && ! cmp -s "$a/$f" "$b/$f"; then
      echo "  ${f#./} differs at byte $(first_difference "$a/$f" "$b/$f") (of $(stat -c %s "$a/$f") and $(stat -c %s "$b/$f"))"
    fi
  done
}

same=() differ=0
for preset in "${presets[@]}"; do
  echo "=== $preset, built again in $other/src"
  [ -f "build/$preset/package.txt" ] || fail "build/$preset has no package.txt: configure it first"
  file=$(cat "build/$preset/package.txt")
  [ -f "build/packages/$file" ] || bash scripts/package.sh --no-check "$preset"
  (cd "$other/src" && cmake --preset "$preset" -DTLP_TESTS=OFF >"$other/$preset.log" 2>&1 &&
    bash scripts/package.sh --no-check "$preset" >>"$other/$preset.log" 2>&1) ||
    { tail -n 30 "$other/$preset.log"; fail "the second build of $preset failed (see $other/$preset.log)"; }
  first=$root/build/packages/$file again=$other/src/build/packages/$file
  if cmp -s "$first" "$again"; then
    same+=("$file")
  else
    echo "$file differs at byte $(first_difference "$first" "$again") (of $(stat -c %s "$first") and $(stat -c %s "$again")):"
    differences_inside "$first" "$again"
    differ=$((differ + 1))
  fi
done
[ "$differ" -eq 0 ] || fail "$differ of ${#presets[@]} packages differ when built again elsewhere"
rm -rf "$other"
echo "reproduce: ${same[*]} the same byte for byte when built again in another folder"
