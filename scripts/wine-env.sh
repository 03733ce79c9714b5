#!/usr/bin/env bash
# Runs a command inside the private Wine environment of the tests:
#
#   scripts/wine-env.sh <command> [args...]
#
# The environment is a Wine prefix of our own (made on first use), the
# Russian locale (Wine takes its ANSI code page from it: 1251), a private
# Xvfb display and a persistent wineserver, so each `wine` started by the
# command comes up in tens of milliseconds. Everything started here is stopped
# when the command ends, however it ends; the exit status is the command's.
#
#   VELMORA_WINEPREFIX  the prefix (default <repo>/build/wineprefix)
#   WINE, WINESERVER    the Wine loader and server (default: wine where the
#                       host runs 32-bit code, else Wine's 64-bit loader;
#                       wineserver)
#
# Sessions on one prefix share one wineserver and one desktop, so the UI
# driver of one would see the message boxes of the other: they take turns
# (a lock beside the prefix). Parallel runners need a prefix each.
set -u -o pipefail

if [ $# -eq 0 ]; then
  echo "usage: $0 <command> [args...]" >&2
  exit 2
fi

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
prefix=$(realpath -m "${VELMORA_WINEPREFIX:-$repo/build/wineprefix}")
# Wine's 32-bit loader where the kernel runs 32-bit code; elsewhere (i386
# execve refused) the 64-bit loader, which runs the x86_64 build of the
# same sources.
if [ -z "${WINE:-}" ]; then
  if wine --version >/dev/null 2>&1; then
    WINE=wine
  elif [ -x /usr/lib/wine/wine64 ]; then
    WINE=/usr/lib/wine/wine64
    export WINELOADER=$WINE
  else
    WINE=wine
  fi
fi
export WINE
WINESERVER=${WINESERVER:-wineserver}

# A command of this environment calling the script again: all is in place.
if [ "${VELMORA_WINE_ENV:-}" = "$prefix" ]; then
  exec "$@"
fi

state=$(mktemp -d "${TMPDIR:-/tmp}/wine-env.XXXXXX") || exit 1
xvfb_pid=
cmd_pid=
wine_started=

# shellcheck disable=SC2317  # called by the traps
cleanup() {
  local status=$?
  trap - EXIT INT TERM HUP
  if [ -n "$cmd_pid" ]; then
    kill -TERM "$cmd_pid" 2>/dev/null
    wait "$cmd_pid" 2>/dev/null
  fi
  if [ -n "$wine_started" ]; then
    # What the command left running in the prefix, its programs and Wine's
    # own services, carries the variable (this shell's children must not).
    # With them gone, SIGTERM has the server write the registry and exit at
    # once; the plain -k takes most of a second with clients, two without.
    unset VELMORA_WINE_ENV
    local left
    left=$(grep -lzxF "VELMORA_WINE_ENV=$prefix" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3)
    if [ -n "$left" ]; then
      # shellcheck disable=SC2086  # one PID a word
      kill -KILL $left 2>/dev/null
    fi
    "$WINESERVER" -k15 >/dev/null 2>&1
    "$WINESERVER" -w >/dev/null 2>&1
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  rm -rf "$state"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# Prints what went wrong and the log that explains it, then gives up.
fail() {
  echo "wine-env: $1" >&2
  if [ $# -gt 1 ] && [ -s "$2" ]; then
    tail -n 20 "$2" >&2
  fi
  exit 1
}

mkdir -p "$(dirname "$prefix")" || fail "cannot create $(dirname "$prefix")"
exec {lock_fd}>"$prefix.lock" || fail "cannot open $prefix.lock"
flock "$lock_fd" || fail "cannot lock $prefix.lock"

# A loader the kernel cannot run fails here with its reason, not later as a
# test that printed nothing.
"$WINE" --version >"$state/wine.log" 2>&1 || fail "$WINE cannot start" "$state/wine.log"

# --- locale ------------------------------------------------------------------
if ! locale -a 2>/dev/null | grep -qiE '^ru_RU\.utf-?8$'; then
  locales="$repo/build/locale"
  if [ ! -f "$locales/ru_RU.UTF-8/LC_CTYPE" ]; then
    # Made beside and moved into place, for runners of other prefixes that
    # may be doing the same at this moment.
    mkdir -p "$locales" || fail "cannot create $locales"
    partial=$(mktemp -d "$locales/.ru_RU.XXXXXX") || fail "cannot create a directory in $locales"
    localedef -i ru_RU -f UTF-8 "$partial/ru_RU.UTF-8" >"$state/localedef.log" 2>&1
    if [ -f "$partial/ru_RU.UTF-8/LC_CTYPE" ]; then
      mv -T "$partial/ru_RU.UTF-8" "$locales/ru_RU.UTF-8" 2>/dev/null
    fi
    rm -rf "$partial"
    [ -f "$locales/ru_RU.UTF-8/LC_CTYPE" ] || fail "localedef could not make ru_RU.UTF-8" "$state/localedef.log"
  fi
  export LOCPATH="$locales"
fi
# For the commands only: this shell cannot switch to a locale that LOCPATH
# provides, and says so.
{ export LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8; } 2>/dev/null

# --- display -----------------------------------------------------------------
# The first display number without a server. The server is ours once its
# socket exists and the lock file names its PID: another server may take the
# same number between our look and its start.
display=
for ((n = 90; n < 190; n++)); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$state/xvfb.log" 2>&1 {lock_fd}>&- &
  xvfb_pid=$!
  for ((i = 0; i < 1000; i++)); do
    if [ -S "/tmp/.X11-unix/X$n" ] && [ "$(tr -d ' \n' <"/tmp/.X$n-lock" 2>/dev/null)" = "$xvfb_pid" ]; then
      display=":$n"
      break 2
    fi
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.01
  done
  kill "$xvfb_pid" 2>/dev/null
  wait "$xvfb_pid" 2>/dev/null
  xvfb_pid=
done
[ -n "$display" ] || fail "no Xvfb display could be started" "$state/xvfb.log"
export DISPLAY="$display"

# --- prefix ------------------------------------------------------------------
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=d;mshtml=d"
wine_started=1
ready="$prefix/.velmora-ready"
if [ ! -f "$ready" ]; then
  "$WINE" wineboot -i >"$state/wineboot.log" 2>&1 || fail "wineboot could not make $prefix" "$state/wineboot.log"
  # Without a window manager every window that hides or closes would stall
  # its process for two seconds. Decorated=N: Wine draws the title bars
  # itself, so screenshots show captions.
  for value in Managed Decorated; do
    "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v "$value" /d N /f >>"$state/wineboot.log" 2>&1 ||
      fail "cannot set $value in $prefix" "$state/wineboot.log"
  done
  # The registry reaches the disk when the server ends.
  "$WINESERVER" -w
  touch "$ready"
fi
"$WINESERVER" -p {lock_fd}>&- || fail "cannot start wineserver"
# The first Wine program of a session starts the prefix's services, and they
# inherit its standard output and error. Started here, with those on
# /dev/null: started by a test, they would hold the test runner's pipe open
# and the runner would wait for them to the end of the session.
"$WINE" cmd.exe /c exit 0 </dev/null >/dev/null 2>&1 {lock_fd}>&- || fail "cannot start a program in $prefix"

# --- command -----------------------------------------------------------------
# In the background so that a signal reaches the traps at once; standard input
# passed on explicitly, as a background command would otherwise read nothing.
export VELMORA_WINE_ENV="$prefix"
"$@" <&0 {lock_fd}>&- &
cmd_pid=$!
wait "$cmd_pid"
status=$?
cmd_pid=
exit "$status"
