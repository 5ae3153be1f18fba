#!/usr/bin/env bash
# Runs each fuzz target for a bounded time, two at a time, starting from its
# seed corpus in fuzz/corpus/ (which is only read: new inputs go to a scratch
# folder). Prints executions and findings per target and fails when a target
# finds a crash, a leak, a timeout or a failed check; the scratch folder with
# the reproducers is then kept and named.
#   fuzz/run.sh [SECONDS] [TARGET...]    default: 60 seconds, every target
# FUZZ_BUILD names the folder of the fuzz_* executables (default build/fuzz,
# as `cmake --preset fuzz && cmake --build --preset fuzz` makes them).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${FUZZ_BUILD:-$here/../build/fuzz}
seconds=${1:-60}
shift $(($# > 0 ? 1 : 0))
if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for dir in "$here"/corpus/*/; do targets+=("$(basename "$dir")"); done
fi
work=$(mktemp -d)

# One target: its summary line goes to $work/$target.summary, and a non-zero
# status to $work/$target.failed.
run_one() {
  local target=$1 dir=$work/$1
  mkdir -p "$dir/corpus"
  local start=$SECONDS
  # Whatever a target makes in a temporary folder goes with the scratch one.
  TMPDIR=$dir "$build/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$dir/" "$dir/corpus" "$here/corpus/$target" \
    >"$dir/log" 2>&1
  local status=$?
  local executions findings
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log")
  findings=$(find "$dir" -maxdepth 1 -regex '.*/\(crash\|leak\|timeout\|oom\|slow-unit\)-.*' |
    wc -l)
  printf '%-14s %12s executions in %4ss, %s findings\n' "$target" "${executions:-?}" \
    "$((SECONDS - start))" "$findings" >"$work/$target.summary"
  if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
    echo "$status" >"$work/$target.failed"
  fi
}

for target in "${targets[@]}"; do
  if [ ! -x "$build/fuzz_$target" ]; then
    echo "fuzz/run.sh: $build/fuzz_$target is missing; build the fuzz preset first" >&2
    exit 2
  fi
  run_one "$target" &
  while [ "$(jobs -rp | wc -l)" -ge 2 ]; do wait -n; done
done
wait

failed=0
for target in "${targets[@]}"; do
  cat "$work/$target.summary"
  if [ -e "$work/$target.failed" ]; then
    failed=1
    echo "--- $target failed; its log ends:"
    tail -n 30 "$work/$target/log"
    for artifact in "$work/$target"/crash-* "$work/$target"/leak-* "$work/$target"/timeout-* \
      "$work/$target"/oom-*; do
      [ -e "$artifact" ] || continue
      echo "--- reproducer $artifact:"
      od -A d -c "$artifact" | head -n 20
    done
  fi
done
if [ "$failed" -ne 0 ]; then
  echo "fuzz/run.sh: findings kept in $work" >&2
  exit 1
fi
rm -rf "$work"
echo "fuzz: ${#targets[@]} targets, no findings"
