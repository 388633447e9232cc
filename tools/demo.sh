#!/usr/bin/env bash
# `make demo`: makes a sample dump set in the build tree, plays it with
# brix_writer to a loopback brix_destination, and shows both sides.
set -euo pipefail
build_dir=${1:-build}
demo_dir="$build_dir/demo"
writer="$build_dir/brix/brix_writer"
mkdump="$build_dir/tools/brix_mkdump"
destination="$build_dir/tools/brix_destination"

rm -rf "$demo_dir"
mkdir -p "$demo_dir"
echo "== Making a sample plain dump set: 3000 blocks in three files"
"$mkdump" --blocks 3000 --files 3 "$demo_dir/sample"

echo
echo "== brix_writer $demo_dir/sample"
"$writer" "$demo_dir/sample" >"$demo_dir/writer.out" 2>"$demo_dir/writer.err" &
writer_pid=$!
trap 'kill "$writer_pid" 2>/dev/null || true' EXIT

destination_status=0
"$destination" >"$demo_dir/destination.out" 2>&1 || destination_status=$?
writer_status=0
wait "$writer_pid" || writer_status=$?
trap - EXIT

echo "-- writer output (status $writer_status):"
cat "$demo_dir/writer.out" "$demo_dir/writer.err"
echo
echo "== brix_destination (status $destination_status):"
cat "$demo_dir/destination.out"

if [ "$writer_status" -ne 0 ] || [ "$destination_status" -ne 0 ]; then
  echo "demo FAILED" >&2
  exit 1
fi
