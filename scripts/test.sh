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

# Wine runs the 32-bit product where the kernel runs 32-bit code. Where it
# does not (i386 execve refused), Wine's 32-bit loader cannot start at all:
# the Windows-side tests then run the x86_64 build of the same sources under
# Wine's 64-bit loader, and the 32-bit binaries are checked as files.
if wine --version >/dev/null 2>&1; then
  wine_preset=win32
else
  wine_preset=win64
  echo "note: this host runs no 32-bit code; Windows-side tests use the win64 build under 64-bit Wine"
fi

presets=(linux linux-asan win32)
[ "$wine_preset" = win64 ] && presets+=(win64)
for preset in "${presets[@]}"; do
  echo "=== $preset: build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

echo "=== linux: tests"
run_ctest ctest --preset linux -j2
echo "=== linux-asan: tests"
run_ctest ctest --preset linux-asan -j2
if [ "$wine_preset" = win64 ]; then
  echo "=== win32: the built binaries, checked as files"
  run_ctest ctest --preset win32 -R '^pe\.'
fi
echo "=== $wine_preset: tests under Wine"
run_ctest scripts/wine-env.sh ctest --preset "$wine_preset"

echo "=== fuzz targets of the file readers, briefly"
if scripts/fuzz.sh 10; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
fi

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
