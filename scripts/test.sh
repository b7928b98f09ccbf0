#!/usr/bin/env bash
# Builds everything and runs every test. With --sanitize the build and the
# tests use AddressSanitizer and UndefinedBehaviorSanitizer.
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
if [ "${1:-}" = "--sanitize" ]; then
    dir="$TOP/build-asan"
    BUILD_TYPE=Debug build_into "$dir" -DTRELLIKON_SANITIZE=ON
else
    dir="$TOP/build"
    build_into "$dir"
fi
QT_QPA_PLATFORM=offscreen ctest --test-dir "$dir" --output-on-failure -j2
