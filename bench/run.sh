#!/bin/bash
# Builds the bench preset and runs the whole benchmark (under four minutes after the build);
# writes the table to build/bench/results.md and to standard output. Needs what
# `tools/bootstrap.sh --linux` installs. No number here is a pass or a failure: the targets
# stand beside the values for a reader to judge.
#   bench/run.sh              the table
#   bench/run.sh UPDATER...   also the connection-wait cost of other omr72-updater builds
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset bench >/dev/null
cmake --build --preset bench --target omr72-bench-measure omr72-bench-ops >/dev/null

build=build/bench
out=$build/results.md
# The instance lock is machine-wide; a network namespace of our own keeps other runs of the
# updater on this machine from holding it (root only; otherwise run as is).
isolate=()
if [ "$(id -u)" -eq 0 ] && unshare -n true 2>/dev/null; then isolate=(unshare -n); fi

{
  echo "Measured $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) x $(grep -m1 'model name' /proc/cpuinfo |
    cut -d: -f2 | sed 's/^ *//'), Linux $(uname -r)."
  echo "Load before: $(uptime | sed 's/.*load average/load average/')."
  echo
  "${isolate[@]}" "$build/bench/omr72-bench-measure" "$build"
  for updater in "$@"; do
    "${isolate[@]}" "$build/bench/omr72-bench-measure" --updater-wait "$updater" | tail -n 1
  done
  # Host cost per operation: CPU time per call (wall time suffers most from a shared machine).
  "$build/bench/omr72-bench-ops" --benchmark_format=csv 2>/dev/null | awk -F, '
    /^"BM_/ {
      name = $1; gsub(/"|BM_|\/real_time/, "", name)
      if (name ~ /64MiB/) { rate[name] = $6 / 1e6; wall[name] = $3; next }
      printf "| host cost per call, %s | %.0f ns CPU (%.0f ns wall) | |\n", name, $4, $3
    }
    END {
      r = rate["Q71ReadPages64MiB"]; m = rate["Memcpy64MiB"]
      printf "| page throughput, Q71_ReadPages 64 MiB, emulated, no latency | %.0f MB/s (%.1f ms) | |\n", r, wall["Q71ReadPages64MiB"]
      printf "| memcpy of the same 64 MiB, same run | %.0f MB/s (%.1f ms) | |\n", m, wall["Memcpy64MiB"]
      if (m > 0) printf "| Q71_ReadPages / memcpy | %.2f | at least 0.5 |\n", r / m
    }'
  echo
  echo "Load after: $(uptime | sed 's/.*load average/load average/')."
} | tee "$out"
