#!/bin/sh
# clang with libFuzzer and the sanitizer runtimes (Debian, as root).
set -e
if command -v clang++ >/dev/null 2>&1 && echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long){return 0;}' \
    | clang++ -x c++ -fsanitize=fuzzer,address,undefined -o /dev/null - >/dev/null 2>&1; then
    exit 0
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev >/dev/null
