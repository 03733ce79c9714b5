#!/usr/bin/env bash
# Installs, on Debian, what building and testing need, skipping what is
# already there. Run as root.
#   deps.sh build   the Linux build (compiler, CMake, Ninja, GoogleTest, the
#                   resource compiler the Linux build embeds resources with)
#   deps.sh all     that, plus the Windows cross builds, Wine with a display
#                   and the Russian locale for code page 1251, PulseAudio,
#                   and clang with libFuzzer for the fuzz targets
set -euo pipefail

what=${1:-all}
packages=(cmake ninja-build g++ pkg-config googletest libgtest-dev python3 binutils-mingw-w64-i686 libsodium-dev)
if [ "$what" = all ]; then
  # The x86_64 cross compiler and Wine's 64-bit loader run the Windows-side
  # tests on hosts whose kernel runs no 32-bit code; PulseAudio gives Wine
  # audio endpoints for LornicLib's test.
  packages+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64 xvfb xauth locales fonts-dejavu-core
    pulseaudio pulseaudio-utils clang-14 libclang-rt-14-dev)
fi

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  for p in "${missing[@]}"; do
    if [[ $p == *:i386 ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
      dpkg --add-architecture i386
    fi
  done
  echo "installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine takes its ANSI code page from the locale: ru_RU.UTF-8 gives 1251.
if [ "$what" = all ] && ! locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
  if [ "$(id -u)" = 0 ]; then
    sed -i 's/^# *ru_RU.UTF-8 UTF-8/ru_RU.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
  fi
fi
