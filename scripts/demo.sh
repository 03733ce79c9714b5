#!/usr/bin/env bash
# Sets up what is missing, builds Vastel for Linux, makes a demo recorder
# directory (build/demo/recorder: a korvo.ini with three channels and their
# directories) and starts Vastel in it. Its boxes and questions appear in
# the terminal; answers are read line by line from standard input, so the
# run can also be scripted:  printf 'yes\n' | scripts/demo.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/deps.sh build
cmake --preset linux >/dev/null
cmake --build --preset linux --target vastel securinf_writer

demo=$root/build/demo/recorder
rm -rf "$demo"
mkdir -p "$demo/Logs"
for n in 0 1 2; do
  mkdir -p "$demo/Channels/Ch$n/Ext" "$demo/Channels/Ch$n/reserv"
done
# The recorder writes its INI file in Windows-1251 with CR LF line ends.
{
  printf '; Korvo recorder settings\r\n'
  printf '[Main]\r\n'
  printf 'Channels=3\r\n'
  printf 'MainLogFile="Logs\\Korvo.log"\r\n'
  for n in 0 1 2; do printf 'ChannelPath[%d]="%s\\Channels\\Ch%d"\r\n' "$n" "$demo" "$n"; done
} > "$demo/korvo.ini"
# The recorder's security file: no administrator password, and the operator
# may purge. The data protection key of the demo machine stays in build/demo.
export VELMORA_MACHINE_KEY=$root/build/demo/machine.key
(cd "$demo" && "$root/build/linux/vastel/securinf_writer" "" "" 1)

echo "demo recorder directory: $demo"
cd "$demo"
"$root/build/linux/vastel/vastel"
echo
echo "--- event log ($demo/Logs/Korvo.log)"
iconv -f CP1251 -t UTF-8 "$demo/Logs/Korvo.log"
