#!/usr/bin/env bash
# Runs every benchmark of a build directory (default build-bench) and ends
# with one table of each comparison with its anchor, read from the RATIO and
# MISSING lines the benchmarks print (bench/README.md). Fails when a
# benchmark fails, reports no ratio or misses an anchor.
set -uo pipefail
dir=${1:-build-bench}
logs=$dir/bench-logs
mkdir -p "$logs"
failed=()
for b in "$dir"/bench/*_bench; do
  [ -x "$b" ] || continue
  name=$(basename "$b")
  echo "== $name"
  if ! "$b" --benchmark_counters_tabular=true 2>&1 | tee "$logs/$name.log"; then
    failed+=("$name")
  elif ! grep -qE '^(RATIO|MISSING) ' "$logs/$name.log"; then
    echo "$name: no RATIO line (bench/README.md)" >&2
    failed+=("$name")
  fi
done
echo
echo "Ratios against the anchors (ours / anchor in cost; below 1 is faster than the anchor)"
printf '%-52s %14s %14s %8s  %s\n' benchmark ours anchor ratio unit
cat "$logs"/*.log | awk '$1 == "RATIO" {
  unit = $6; for (i = 7; i <= NF; ++i) unit = unit " " $i
  printf "%-52s %14.4g %14.4g %8.2f  %s\n", $2, $3, $4, $5, unit }'
missing=$(cat "$logs"/*.log | awk '$1 == "MISSING"')
if [ -n "$missing" ]; then
  echo
  echo "Missing anchors:"
  echo "$missing" | sed 's/^MISSING /  /'
fi
if [ ${#failed[@]} -gt 0 ] || [ -n "$missing" ]; then
  echo "FAILED: ${failed[*]:-} ${missing:+(missing anchors)}" >&2
  exit 1
fi
