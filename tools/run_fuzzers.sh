#!/usr/bin/env bash
# Runs every libFuzzer target of a BRIX_FUZZ build for a given time and
# summarises each run: executions, speed, coverage (cov/ft) and corpus.
#
#   tools/run_fuzzers.sh [--ci] <fuzz build dir> <seconds per target> [target...]
#
# Each target starts from its committed corpus (fuzz/<target>/corpus and
# fuzz/<target>/regressions, read only) and grows a working corpus under
# <build dir>/fuzz-corpus/<target>, kept between runs and never committed;
# with --ci the working corpus is <build dir>/fuzz-corpus-ci/<target>,
# emptied first, so that a CI run depends on the committed inputs only. Inputs that fail land in
# <build dir>/fuzz-artifacts/<target>/. Any crash, leak, time-out, memory
# blow-up or sanitizer report fails the script (status 1).
set -uo pipefail

ci=0
if [ "${1:-}" = "--ci" ]; then
  ci=1
  shift
fi
if [ $# -lt 2 ]; then
  echo "usage: $0 [--ci] <fuzz build dir> <seconds per target> [target...]" >&2
  exit 2
fi
build_dir=$(cd "$1" && pwd)
seconds=$2
shift 2
repo=$(cd "$(dirname "$0")/.." && pwd)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(dump_file stream checkpoint negotiation command_line chunk_inflate)
fi

# libFuzzer settings: a 10 s limit per input, 2 GiB of memory; the targets'
# own messages are dropped (the fuzzer keeps its report channel and the
# sanitizers report through it).
fuzzer_flags=(-timeout=10 -rss_limit_mb=2048 -close_fd_mask=3 -print_final_stats=1)

failed=0
summary=()
for target in "${targets[@]}"; do
  program="$build_dir/fuzz/fuzz_$target"
  if [ ! -x "$program" ]; then
    echo "missing fuzz target $program (build the fuzz_targets target first)" >&2
    exit 2
  fi
  work="$build_dir/fuzz-corpus$([ $ci -eq 1 ] && echo -ci)/$target"
  artifacts="$build_dir/fuzz-artifacts/$target"
  log="$build_dir/fuzz-logs/$target.log"
  [ $ci -eq 1 ] && rm -rf "$work"
  mkdir -p "$work" "$artifacts" "$(dirname "$log")"
  inputs=("$work" "$repo/fuzz/$target/corpus")
  [ -d "$repo/fuzz/$target/regressions" ] && inputs+=("$repo/fuzz/$target/regressions")

  echo "== $target: ${seconds} s"
  started=$SECONDS
  "$program" "${fuzzer_flags[@]}" -max_total_time="$seconds" -artifact_prefix="$artifacts/" \
    "${inputs[@]}" >"$log" 2>&1
  status=$?
  elapsed=$((SECONDS - started))

  last=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -n 1)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corp=$(sed -n 's/.* corp: \([^ ]*\).*/\1/p' <<<"$last")
  result="ok"
  if [ $status -ne 0 ] || grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|^fuzz: ' "$log"; then
    result="FAILED (status $status; see $log)"
    failed=1
    grep -E 'ERROR:|runtime error:|^fuzz: |SUMMARY:|Test unit written' "$log" | head -n 20 >&2
  fi
  summary+=("$(printf '%-13s %5s s %10s runs %6s exec/s  cov %5s  ft %6s  corpus %-11s %s' \
    "$target" "$elapsed" "${runs:-?}" "${speed:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}" "$result")")
done

echo
echo "Fuzzing summary (${seconds} s per target):"
printf '%s\n' "${summary[@]}"
exit $failed
