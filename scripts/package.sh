#!/usr/bin/env bash
# Builds the release packages into build/packages/ and checks each one as a
# user gets it, unpacked into a fresh folder: the files it holds, the export
# table of the plug-in in it, and `tga-host about` run on the plug-in beside it
# (under Wine for the Windows packages), which must answer the same everywhere.
# In a Windows package the examples are built as their head comments say, with
# warnings as errors, and run under Wine on the plug-in beside them:
# minimal-host must write what `tga-host convert` writes, and the viewer must
# draw a sample exactly as decoded (scripts/screenshot-viewer.sh --check).
#
#   scripts/package.sh [--no-check] [PRESET...]
#       PRESET: win32 (the product, a ZIP), win64 (ZIP), linux (a tarball);
#       default: win32 linux. --no-check makes the packages only.
#
# The packages are reproducible: the same sources give the same bytes in any
# folder at any time. Every date in them is SOURCE_DATE_EPOCH, by default the
# time of the last commit (scripts/archive.py packs them); build/packages/
# SHA256SUMS lists every package there, and each has its .sha256 beside it.
# scripts/reproduce.sh builds them again elsewhere and compares.
#
# Reuses build/<preset>, configured if it is not yet (CI has built it all
# already). Exits non-zero when a build, a package or a check fails; the last
# line sums up.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
out=$root/build/packages
checking=1
[ "${1:-}" = --no-check ] && { checking=; shift; }
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(win32 linux)

fail() { echo "package.sh: $*" >&2; exit 1; }

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -c safe.directory="$root" -C "$root" log -1 --format=%ct 2>/dev/null) ||
    fail "SOURCE_DATE_EPOCH is not set and $root is no git checkout to take the commit's time from"
fi
# strip dates the Windows programs' headers by it too.
export SOURCE_DATE_EPOCH

# What each package holds, below its top folder.
expected_files() {
  case $1 in
  win32 | win64)
    printf '%s\n' LICENSE Targa.tlp docs/host-guide.md docs/tga-host.md examples/minimal-host.c \
      examples/viewer.c include/TargaPlugin.h tga-host.exe ;;
  *)
    printf '%s\n' bin/Targa.tlp bin/tga-host include/TargaPlugin.h lib/libtlpwin.so \
      share/doc/TargaPlugin/LICENSE share/doc/TargaPlugin/host-guide.md share/doc/TargaPlugin/tga-host.md ;;
  esac
}

cache_value() { sed -n "s/^$2:[A-Z]*=//p" "build/$1/CMakeCache.txt"; }

# Builds the examples of the unpacked Windows package in $2 beside its
# plug-in and runs them there.
check_examples() {
  local cc flags=(-Wall -Wextra -Wpedantic -Werror -O2 -Iinclude) sample=$root/samples/sample-24-rle.tga
  # The toolchain file names the compiler; CMake records it here, not in the cache.
  cc=$(sed -n 's/^set(CMAKE_C_COMPILER "\(.*\)")$/\1/p' build/"$1"/CMakeFiles/*/CMakeCCompiler.cmake | head -n 1)
  [ -n "$cc" ] || fail "no C compiler recorded in build/$1"
  (cd "$2" && "$cc" "${flags[@]}" examples/minimal-host.c -o minimal-host.exe &&
    "$cc" "${flags[@]}" -x c++ -fsyntax-only examples/minimal-host.c &&
    "$cc" "${flags[@]}" -mwindows examples/viewer.c -o viewer.exe) ||
    fail "the examples of the $1 package do not build without warnings"
  # In a fresh copy of the project's prefix, made by the viewer's check: the
  # examples store the conversion method, and the user's stays as it was.
  local prefix=$out/wine-prefix
  rm -rf "$prefix"
  TLP_SHOT_PREFIX=$prefix scripts/screenshot-viewer.sh --check "$2" ||
    fail "the viewer does not draw its pictures as decoded"
  TLP_WINEPREFIX=$prefix scripts/wine-run.sh "$2/minimal-host.exe" "$2/Targa.tlp" "$sample" \
    "$2/minimal.tga" >"$2/minimal.log" || fail "minimal-host failed: $(cat "$2/minimal.log")"
  TLP_WINEPREFIX=$prefix scripts/wine-run.sh "$2/tga-host.exe" convert "$sample" "$2/convert.tga" \
    >/dev/null || fail "tga-host convert failed on $sample"
  cmp "$2/minimal.tga" "$2/convert.tga" || fail "minimal-host wrote other bytes than tga-host convert"
}

mkdir -p "$out"
made=()
for preset in "${presets[@]}"; do
  build=build/$preset
  echo "=== $preset"
  [ -f "$build/CMakeCache.txt" ] || cmake --preset "$preset"
  cmake --build --preset "$preset" -j"$(nproc)"
  file=$(cat "$build/package.txt")
  name=${file%.zip}
  name=${name%.tar.gz}
  case $file in *.zip) windows=1 ;; *) windows= ;; esac
  stage=$out/stage-$preset
  rm -rf "$stage"
  cmake --install "$build" --prefix "$stage/$name" --strip >/dev/null
  python3 scripts/archive.py "$out/$file" "$stage/$name"
  rm -rf "$stage"
  (cd "$out" && sha256sum "$file" >"$file.sha256")
  if [ -z "$checking" ]; then
    made+=("$file")
    echo "$out/$file: made, not checked"
    continue
  fi

  # Unpacked where nothing of the build can help it.
  check=$out/check-$preset
  rm -rf "$check"
  mkdir -p "$check"
  (cd "$check" && cmake -E tar xf "$out/$file")
  top=$check/$name
  actual=$(cd "$top" && find . \( -type f -o -type l \) | sed 's|^\./||' | LC_ALL=C sort)
  diff <(expected_files "$preset" | LC_ALL=C sort) <(echo "$actual") ||
    fail "$file holds other files than expected (< expected, > found)"

  if [ -n "$windows" ]; then
    plugin=$top/Targa.tlp
    cmake -DMODE=windows "-DTOOL=$(cache_value "$preset" CMAKE_OBJDUMP)" "-DLIBRARY=$plugin" \
      "-DEXPECTED=$build/exports.txt" -P tests/check_exports.cmake
    scripts/wine-run.sh "$top/tga-host.exe" about >"$out/about-$preset.txt" ||
      fail "tga-host.exe about failed on the unpacked $file"
    # Vista's calls are imported: the headers say 6.0, the oldest that has them.
    for program in "$plugin" "$top/tga-host.exe"; do
      versions=$("$(cache_value "$preset" CMAKE_OBJDUMP)" -p "$program" |
        awk '/^Major(OSystem|Subsystem)Version|^Minor(OSystem|Subsystem)Version/ { printf "%s ", $2 }')
      [ "$versions" = "6 0 6 0 " ] || fail "$program states Windows $versions, not 6.0"
    done
    check_examples "$preset" "$top"
  else
    plugin=$top/bin/Targa.tlp
    cmake -DMODE=linux -DTOOL=nm "-DLIBRARY=$plugin" "-DEXPECTED=$build/exports.txt" \
      -P tests/check_exports.cmake
    # The host and the plug-in find the window library they share in the
    # package itself, through their $ORIGIN-relative search path.
    for program in "$top/bin/tga-host" "$plugin"; do
      deps=$(env -u LD_LIBRARY_PATH ldd "$program")
      ! grep -q 'not found' <<<"$deps" || fail "$program: $(grep 'not found' <<<"$deps")"
      found=$(sed -n 's/^\s*libtlpwin\.so => \(\S*\) .*/\1/p' <<<"$deps")
      [ -n "$found" ] && [ "$(realpath "$found")" = "$(realpath "$top/lib/libtlpwin.so")" ] ||
        fail "$program finds libtlpwin.so at '$found', not in the package"
    done
    env -u LD_LIBRARY_PATH "$top/bin/tga-host" about >"$out/about-$preset.txt" ||
      fail "tga-host about failed on the unpacked $file"
  fi
  grep -qx 'name: Targa' "$out/about-$preset.txt" || fail "tga-host about: $(cat "$out/about-$preset.txt")"
  if [ ${#made[@]} -gt 0 ]; then
    diff "$out/about-${presets[0]}.txt" "$out/about-$preset.txt" ||
      fail "tga-host about answers differently in the $preset and ${presets[0]} packages"
  fi
  made+=("$file ($(wc -l <<<"$actual") files)")
  echo "$out/$file: $(wc -l <<<"$actual") files, exports and tga-host about checked${windows:+, the Windows version and the examples too}"
done

(cd "$out" && find . -maxdepth 1 -type f \( -name '*.zip' -o -name '*.tar.gz' \) -printf '%f\n' |
  LC_ALL=C sort | xargs -r sha256sum >SHA256SUMS)
list=$(printf '%s, ' "${made[@]}")
if [ -n "$checking" ]; then
  echo "package: ${list%, }; contents, exports and tga-host about checked, the same in each"
else
  echo "package: ${list%, } made (not checked)"
fi
