#!/bin/bash -eu
# Builds the two fuzz targets, decode_fuzzer and roundtrip_fuzzer, as OSS-Fuzz
# and ClusterFuzzLite build them: with their $CC, $CXX, $CFLAGS and $CXXFLAGS,
# linked with $LIB_FUZZING_ENGINE, into $OUT beside a seed corpus
# (<target>_seed_corpus.zip: the seeds and the kept crashers of that target)
# and a dictionary of header values (<target>.dict). Run from the top of the
# sources, as the engines run it ($WORK for what is built on the way).
# .clusterfuzzlite/check.sh runs it here, for both word sizes.
set -eu # whether the engine runs it with bash -eu or not
root=$PWD
build=$WORK/targa-build

# The byte source reads at 64-bit file offsets in the 32-bit build too.
if [ "${ARCHITECTURE:-x86_64}" = i386 ]; then
  CFLAGS="$CFLAGS -D_FILE_OFFSET_BITS=64"
  CXXFLAGS="$CXXFLAGS -D_FILE_OFFSET_BITS=64"
fi
# A build type of no flags of its own: the engines' flags are all there is.
cmake -S "$root/.clusterfuzzlite" -B "$build" -DCMAKE_BUILD_TYPE=Engine \
  -DCMAKE_C_COMPILER="$CC" -DCMAKE_CXX_COMPILER="$CXX" \
  -DCMAKE_C_FLAGS="$CFLAGS" -DCMAKE_CXX_FLAGS="$CXXFLAGS" \
  -DLIB_FUZZING_ENGINE="$LIB_FUZZING_ENGINE"
cmake --build "$build" -j"$(nproc)" --target decode_fuzzer roundtrip_fuzzer

seeds=$WORK/targa-seeds
rm -rf "$seeds"
python3 "$root/tests/fuzz/make_seeds.py" "$seeds/all"
for t in decode roundtrip; do
  cp "$build/${t}_fuzzer" "$OUT/"
  cp "$root/.clusterfuzzlite/tga.dict" "$OUT/${t}_fuzzer.dict"
  mkdir -p "$seeds/$t"
  cp "$seeds"/all/* "$seeds/$t/"
  # The crashers a target found (in either word size) stay in its corpus.
  for f in "$root"/tests/fuzz/crashers/"$t"-* "$root"/tests/fuzz/crashers/i386-"$t"-*; do
    [ ! -f "$f" ] || cp "$f" "$seeds/$t/"
  done
  rm -f "$OUT/${t}_fuzzer_seed_corpus.zip"
  (cd "$seeds/$t" && python3 -m zipfile -c "$OUT/${t}_fuzzer_seed_corpus.zip" *)
done
