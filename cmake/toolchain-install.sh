#!/bin/sh
# Installs the cross compilers and Wine when they are missing (Debian, as root).
set -e
need=""
command -v i686-w64-mingw32-g++-posix >/dev/null 2>&1 || need=1
command -v wine >/dev/null 2>&1 || need=1
[ -x /usr/lib/wine/wine ] || need=1
command -v cmake >/dev/null 2>&1 || need=1
command -v g++ >/dev/null 2>&1 || need=1
[ -f /usr/src/googletest/CMakeLists.txt ] || need=1
[ -z "$need" ] && exit 0
export DEBIAN_FRONTEND=noninteractive
dpkg --add-architecture i386
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
    cmake make g++ googletest \
    gcc-mingw-w64-i686 g++-mingw-w64-i686 binutils-mingw-w64-i686 \
    wine wine32:i386 >/dev/null
