#!/usr/bin/env bash
# Runs build.sh as OSS-Fuzz and ClusterFuzzLite run it, with the variables
# their libFuzzer and AddressSanitizer builds set, for x86_64 and i386, then
# each target briefly over its seed corpus with its dictionary, so that the
# build cannot rot where no container can be built. One summary line.
#   .clusterfuzzlite/check.sh [SECONDS]    per target (default 10)
# Their image compiles C++ against its own libc++ (-stdlib=libc++); here the
# system's libstdc++ stands in where libc++ is not installed.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-10}
top=$root/build/oss-fuzz
cd "$root" || exit 1
fail() { echo "oss-fuzz: FAILED, $*"; exit 1; }

line=""
for arch in x86_64 i386; do
  m32= asan=${ASAN_OPTIONS:-} under=
  [ $arch = i386 ] && m32=-m32
  # LeakSanitizer stops the world with ptrace, which qemu-user does not give
  # a program it runs: there a finished i386 run would wait for ever. The
  # leak check is the x86_64 run's, and the i386 run's on a kernel that runs
  # i386 code itself.
  if [ $arch = i386 ] && grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386* 2>/dev/null; then
    asan=detect_leaks=0${asan:+:$asan} under=", under qemu-user without the leak check"
  fi
  libcxx=
  echo '#include <vector>
int main() { std::vector<int> v; }' | clang++ $m32 -stdlib=libc++ -x c++ - -o /dev/null 2>/dev/null && libcxx=-stdlib=libc++
  dir=$top/$arch
  rm -rf "$dir" && mkdir -p "$dir/out" "$dir/work" || fail "no folder $dir"
  flags="$m32 -O1 -fno-omit-frame-pointer -gline-tables-only -DFUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION"
  flags="$flags -fsanitize=address -fsanitize-address-use-after-scope -fsanitize=fuzzer-no-link"
  start=$(date +%s)
  env SRC="$root/.." OUT="$dir/out" WORK="$dir/work" ARCHITECTURE=$arch SANITIZER=address \
    FUZZING_ENGINE=libfuzzer FUZZING_LANGUAGE=c++ CC=clang CXX=clang++ CCC=clang++ \
    CFLAGS="$flags" CXXFLAGS="$flags $libcxx" LIB_FUZZING_ENGINE=-fsanitize=fuzzer \
    bash .clusterfuzzlite/build.sh >"$dir/build.log" 2>&1 ||
    { tail -n 30 "$dir/build.log"; fail "build.sh for $arch (see $dir/build.log)"; }
  built=$(( $(date +%s) - start ))
  line="$line $arch (${libcxx:+libc++}${libcxx:-libstdc++, no libc++ here}$under) built in ${built}s:"
  for t in decode roundtrip; do
    for f in "${t}_fuzzer" "${t}_fuzzer.dict" "${t}_fuzzer_seed_corpus.zip"; do
      [ -s "$dir/out/$f" ] || fail "build.sh for $arch wrote no $f"
    done
    corpus=$dir/corpus-$t
    mkdir -p "$corpus" && python3 -m zipfile -e "$dir/out/${t}_fuzzer_seed_corpus.zip" "$corpus" ||
      fail "the seed corpus of $t ($arch) does not unpack"
    log=$dir/$t.log
    ASAN_OPTIONS=$asan "$dir/out/${t}_fuzzer" -dict="$dir/out/${t}_fuzzer.dict" -max_total_time="$seconds" \
      -rss_limit_mb=2560 -timeout=25 -artifact_prefix="$dir/$t-" -print_final_stats=1 "$corpus" >"$log" 2>&1 ||
      { tail -n 30 "$log"; fail "$t ($arch) over its seed corpus (see $log)"; }
    grep -q 'Dictionary: [1-9][0-9]* entries' "$log" || fail "$t ($arch) read no dictionary (see $log)"
    n=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' "$log" | tail -n 1)
    line="$line $t ${n:-0} runs,"
  done
done
echo "oss-fuzz: build.sh as the engines run it;${line%,}"
