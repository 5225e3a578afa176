# Sourced by the host tests, which set $dir and $host first.
failed=0 failures=()
fail() { # description: a check that did not hold
  echo "FAIL: $1"
  # How the last command ended and what it said, which most checks read.
  [ ! -s "$dir/status.txt" ] || echo "  | exit $(cat "$dir/status.txt")"
  [ ! -s "$dir/err.txt" ] || head -n 3 "$dir/err.txt" | sed 's/^/  | /'
  failed=$((failed + 1)) failures+=("$1")
}
check() { # description, then a command that must succeed
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else fail "$what"; fi
}
# The last lines, all a runner may show: how many failed, and which.
finish() { # the suite's name
  echo "$1 checks failed: $failed"
  [ "$failed" -eq 0 ] || printf '  failed: %s\n' "${failures[@]}"
  [ "$failed" -eq 0 ]
}
# A command's exit status, also in $dir/status.txt; what it said in
# $dir/out.txt and $dir/err.txt.
status() {
  "$@" >"$dir/out.txt" 2>"$dir/err.txt"
  echo $? | tee "$dir/status.txt"
}

# Ctrl-C on a write: a write to a pipe that nobody
# drains blocks; SIGINT then stops it at the next row. The output is no
# regular file, so it stays.
#   ctrl_c_on_pipe DIR ARGS...
# runs "$host" ARGS... DIR/large.tga DIR/pipe.tga, a 2000 x 1500 picture into
# a pipe read 100,000 bytes before Ctrl-C, and checks what it said and wrote
# (with the caller's check, $host and $dir).
ctrl_c_on_pipe() {
  local d=$1 width=2000 height=1500 pid rc
  shift
  {
    printf '\x00\x00\x02\x00\x00\x00\x00\x00\x00\x00\x00\x00\xd0\x07\xdc\x05\x18\x20'
    head -c $((width * height * 3)) /dev/zero
  } >"$d/large.tga"
  mkfifo "$d/pipe.tga" || exit 1
  "$host" "$@" "$d/large.tga" "$d/pipe.tga" >"$dir/out.txt" 2>"$dir/err.txt" &
  pid=$!
  exec 3<"$d/pipe.tga"
  head -c 100000 <&3 >/dev/null
  kill -INT "$pid"
  cat <&3 >"$d/drained"
  exec 3<&-
  wait "$pid"
  rc=$?
  check "Ctrl-C: exit 130" [ "$rc" = 130 ]
  check "Ctrl-C: says where it stopped" grep -q "stopped before row" "$dir/err.txt"
  check "Ctrl-C: fewer rows than the picture" [ "$(($(wc -c <"$d/drained") + 100000))" -lt $((18 + width * height * 3)) ]
  check "Ctrl-C: a pipe is not removed" [ -p "$d/pipe.tga" ]
}
