#!/usr/bin/env bash
# Runs every libFuzzer target on its seed corpus for SECONDS each (default
# 300). Expects the clang tree of tools/test.sh in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
shopt -s nullglob
for target in build-fuzz/fuzz/*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="fuzz/corpus/$name"
  work=$(mktemp -d)
  cp -r "$corpus"/. "$work"/ 2>/dev/null || true
  echo "fuzzing $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -print_final_stats=0 "$work" 2>"$work.log" || {
    tail -n 40 "$work.log"
    exit 1
  }
  rm -rf "$work" "$work.log"
done
