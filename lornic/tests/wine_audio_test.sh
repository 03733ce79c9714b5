#!/usr/bin/env bash
# Runs wine_audio_test.exe under Wine against the two audio setups it knows,
# each started and stopped here:
#
#   wine_audio_test.sh <wine_audio_test.exe>
#
#   1. no audio daemon: PulseAudio pinned to a socket where none listens;
#   2. a private PulseAudio daemon (pulseaudio, pulseaudio-utils) with one
#      null sink and one null source, on a socket of its own.
#
# The Wine environment (prefix, locale, display) is scripts/wine-env.sh's;
# WINE and WINESERVER default to the 64-bit loader and its server.
set -u -o pipefail

exe=$1
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export WINE=${WINE:-/usr/lib/wine/wine64}
export WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}

if [ "${VELMORA_WINE_ENV:-}" = "" ]; then
  # A prefix of its own: sessions on one prefix take turns, and this one
  # needs no other session's desktop.
  export VELMORA_WINEPREFIX=${VELMORA_WINEPREFIX:-$repo/build/wineprefix-lornic}
  exec "$repo/scripts/wine-env.sh" "$0" "$@"
fi

sink=Velmora-Test-Output-Sink
source=Velmora-Test-Input-Source
state=$(mktemp -d "${TMPDIR:-/tmp}/lornic-audio.XXXXXX") || exit 1
pulse_pid=

# shellcheck disable=SC2317  # called by the trap
cleanup() {
  if [ -n "$pulse_pid" ]; then
    kill "$pulse_pid" 2>/dev/null
    wait "$pulse_pid" 2>/dev/null
  fi
  rm -rf "$state"
}
trap cleanup EXIT

status=0

echo "== no audio daemon"
PULSE_SERVER="unix:$state/nobody-listens" "$WINE" "$exe" --setup=none || status=1

echo "== private PulseAudio daemon"
mkdir -p "$state/home" "$state/runtime"
HOME="$state/home" XDG_CONFIG_HOME="$state/home" XDG_RUNTIME_DIR="$state/runtime" \
  PULSE_RUNTIME_PATH="$state/runtime" \
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
  -L "module-native-protocol-unix socket=$state/pulse auth-anonymous=1" \
  -L "module-null-sink sink_name=velmora_out sink_properties=device.description=$sink" \
  -L "module-null-source source_name=velmora_in description=$source" \
  >"$state/pulseaudio.log" 2>&1 &
pulse_pid=$!
for ((i = 0; i < 500; i++)); do
  PULSE_SERVER="unix:$state/pulse" pactl info >/dev/null 2>&1 && break
  if ! kill -0 "$pulse_pid" 2>/dev/null; then
    echo "pulseaudio did not start:" >&2
    tail -n 20 "$state/pulseaudio.log" >&2
    exit 1
  fi
  sleep 0.02
done
PULSE_SERVER="unix:$state/pulse" "$WINE" "$exe" --setup=pulse "--sink=$sink" "--source=$source" || status=1
exit "$status"
