#!/usr/bin/env bash
# Sets up what is missing, builds both targets and runs every test: the
# Linux tests (also under AddressSanitizer and UndefinedBehaviorSanitizer)
# and the Windows build's tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh all

passed=0
failed=0
run_ctest() {
  local log
  log=$(mktemp)
  set +e
  "$@" 2>&1 | tee "$log"
  local status=${PIPESTATUS[0]}
  set -e
  local summary
  summary=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
  rm -f "$log"
  if [ -n "$summary" ]; then
    local bad total
    bad=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$summary")
    total=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$summary")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  elif [ "$status" != 0 ]; then
    failed=$((failed + 1))
  fi
}

for preset in linux linux-asan win32; do
  echo "=== $preset: build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

echo "=== linux: tests"
run_ctest ctest --preset linux -j2
echo "=== linux-asan: tests"
run_ctest ctest --preset linux-asan -j2
echo "=== win32: tests under Wine"
run_ctest scripts/wine-env.sh ctest --preset win32

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
