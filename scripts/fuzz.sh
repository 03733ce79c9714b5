#!/usr/bin/env bash
# Builds the libFuzzer targets of the file readers (clang 14 with
# AddressSanitizer and UndefinedBehaviorSanitizer) and runs each one for a
# bounded time on its corpus:
#
#   scripts/fuzz.sh [seconds]     seconds per target, 10 by default
#
#   FUZZ_RUNS=n    stop a target after n executions (still within the time)
#   FUZZ_ONLY=x    only the target x (options, security, ini)
#
# Targets: options (the options file reader), security (the security file
# reader), ini (the recorder's INI reader). Seeds are in fuzz/corpus/<x>; the
# corpus grown by the runs and any crashing input stay in build/fuzz. The
# exit status is 0 when no target found anything; a summary line per target
# gives its executions.
#
# libFuzzer's runtime comes with clang: Debian's libclang-rt-14-dev.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-10}
CXX=${FUZZ_CXX:-clang++-14}
# Absolute: the targets work in a scratch directory of their own.
out=$PWD/build/fuzz
targets=(options security ini)
[ -n "${FUZZ_ONLY:-}" ] && targets=("$FUZZ_ONLY")

command -v "$CXX" >/dev/null || { echo "fuzz: $CXX not found (Debian package clang-14)" >&2; exit 1; }
runtime="$("$CXX" -print-runtime-dir)/libclang_rt.fuzzer-x86_64.a"
[ -f "$runtime" ] || { echo "fuzz: libFuzzer runtime missing: $runtime (Debian package libclang-rt-14-dev)" >&2; exit 1; }
sodium_flags=$(pkg-config --cflags --libs libsodium 2>/dev/null || echo -lsodium)

# The readers with what they stand on: the platform layer's POSIX side.
# (clang has no -fexec-charset for code page 1251: messages stay UTF-8
# here, which no reader looks at.)
sources=(
  vastel/security/multi_options.cpp
  vastel/security/secure_store.cpp
  vastel/security/secret_ini.cpp
  vastel/config/simple_ini.cpp
  vastel/config/simple_log.cpp
  vastel/app/error_class.cpp
  platform/common/crt32.cpp
)
for f in platform/posix/*.cpp; do
  [ "$(basename "$f")" = entry.cpp ] || sources+=("$f")
done

flags=(-std=c++17 -g -O1 -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=undefined
       -Iplatform/include -Ivastel -Ifuzz)
mkdir -p "$out/obj" "$out/artifacts"
objects=()
for src in "${sources[@]}"; do
  obj="$out/obj/$(echo "$src" | tr / _).o"
  if [ ! -f "$obj" ] || [ "$src" -nt "$obj" ] || [ -n "$(find platform/include vastel -name '*.h' -newer "$obj" | head -n 1)" ]; then
    "$CXX" "${flags[@]}" -fsanitize=fuzzer-no-link -c "$src" -o "$obj"
  fi
  objects+=("$obj")
done

status=0
for t in "${targets[@]}"; do
  "$CXX" "${flags[@]}" -fsanitize=fuzzer "fuzz/${t}_fuzzer.cpp" "${objects[@]}" $sodium_flags -o "$out/${t}_fuzzer"
  mkdir -p "$out/corpus/$t"
  log="$out/$t.log"
  runs=()
  [ -n "${FUZZ_RUNS:-}" ] && runs=(-runs="$FUZZ_RUNS")
  set +e
  "$out/${t}_fuzzer" -max_total_time="$seconds" "${runs[@]}" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$out/artifacts/$t-" "$out/corpus/$t" "$PWD/fuzz/corpus/$t" >"$log" 2>&1
  result=$?
  set -e
  executed=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
  if [ "$result" = 0 ]; then
    echo "fuzz $t: $executed executions in at most $seconds s, nothing found"
  else
    echo "fuzz $t: FOUND a fault after $executed executions (exit $result); see $log and $out/artifacts" >&2
    tail -n 30 "$log" >&2
    status=1
  fi
done
exit $status
