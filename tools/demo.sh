#!/usr/bin/env bash
# `make demo`: makes sample dump sets in the build tree and plays each with
# brix_writer to a loopback brix_destination: first a plain set, then a
# compressed and encrypted one whose password the demo types at the writer's
# prompt itself. The lines of both sides are shown as they happen, each
# marked with its side. It ends with brix_verify on both sample sets, as
# before a transfer window, and on a copy with one damaged byte.
set -euo pipefail
build_dir=${1:-build}
demo_dir="$build_dir/demo"
writer="$build_dir/brix/brix_writer"
mkdump="$build_dir/tools/brix_mkdump"
destination="$build_dir/tools/brix_destination"
verifier="$build_dir/tools/brix_verify"
password="demo password"

rm -rf "$demo_dir"
mkdir -p "$demo_dir"

# Prefixes each line of standard input as it comes.
mark() { sed -u "s/^/$1 | /"; }

# play <label> <prefix> <writer's standard input>
play() {
  local label=$1 prefix=$2 input=$3
  echo
  echo "== brix_writer $prefix   ($label)"
  printf '%s' "$input" >"$demo_dir/writer.in"
  # Each side's status goes to a file (the pipe into `mark` would hide it),
  # and the writer's process id too, so that it can be stopped should the
  # destination give up while the writer still listens.
  (
    "$writer" "$prefix" <"$demo_dir/writer.in" 2>&1 &
    echo $! >"$demo_dir/writer.pid"
    status=0
    wait $! || status=$?
    echo "$status" >"$demo_dir/writer.status"
  ) | mark "     writer" &
  local writer_side=$!
  (
    status=0
    "$destination" 2>&1 || status=$?
    echo "$status" >"$demo_dir/destination.status"
  ) | mark "destination"
  local destination_status
  destination_status=$(cat "$demo_dir/destination.status")
  if [ "$destination_status" -ne 0 ] && [ -f "$demo_dir/writer.pid" ]; then
    kill "$(cat "$demo_dir/writer.pid")" 2>/dev/null || true
  fi
  wait "$writer_side"
  local writer_status
  writer_status=$(cat "$demo_dir/writer.status")
  echo "-- writer status $writer_status, brix_destination status $destination_status"
  if [ "$writer_status" -ne 0 ] || [ "$destination_status" -ne 0 ]; then
    echo "demo FAILED" >&2
    exit 1
  fi
}

echo "== Making a sample plain dump set: 3000 blocks in three files"
"$mkdump" --blocks 3000 --files 3 "$demo_dir/plain"
play "plain" "$demo_dir/plain" ""

echo
echo "== Making the same stream compressed and AES-256 encrypted, in three files"
"$mkdump" --blocks 3000 --files 3 --compress --encrypt --mode 3 --password "$password" \
  "$demo_dir/sealed" | tail -n 2
play "compressed and encrypted; the demo types the password at the prompt" \
  "$demo_dir/sealed" "$password
"

# check <expected status> <label> <brix_verify arguments...>
check() {
  local expected=$1 label=$2 status=0
  shift 2
  echo
  echo "== brix_verify $*   ($label)"
  (
    "$verifier" "$@" 2>&1 || echo $? >"$demo_dir/verifier.status"
  ) | mark "   verifier"
  if [ -f "$demo_dir/verifier.status" ]; then
    status=$(cat "$demo_dir/verifier.status")
    rm -f "$demo_dir/verifier.status"
  fi
  echo "-- brix_verify status $status"
  if [ "$status" -ne "$expected" ]; then
    echo "demo FAILED" >&2
    exit 1
  fi
}

printf '%s\n' "$password" >"$demo_dir/password"
check 0 "the plain set" "$demo_dir/plain"
check 0 "the sealed set, its password from a file" --password-file "$demo_dir/password" \
  "$demo_dir/sealed"
mkdir -p "$demo_dir/damaged"
cp "$demo_dir"/sealed.[0-9]* "$demo_dir/damaged/"
# One byte of the second file's data area changed, as a bad disk would.
printf '\x5a' | dd of="$demo_dir/damaged/sealed.1" bs=1 seek=100000 conv=notrunc status=none
check 1 "a copy with one damaged byte" --password-file "$demo_dir/password" \
  "$demo_dir/damaged/sealed"
echo
echo "demo: both sets played back complete; brix_verify found them whole and the damaged copy's fault"
