#!/usr/bin/env bash
# The test command: installs what it needs, runs the JUCE-free tests under
# AddressSanitizer and UBSan and the real-time paths under RealtimeSanitizer,
# then builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

# The channel and engine tests with sanitizers (JUCE-free, so quick to build).
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DVELTRO_SANITIZE=ON -DVELTRO_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-sanitize -j "$(nproc)" --target veltro_core_tests
build-sanitize/tests/veltro_core_tests --gtest_brief=1

# The real-time paths under RealtimeSanitizer (JUCE-free as well).
CC=clang-22 CXX=clang++-22 cmake -S . -B build-rtsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTRO_RTSAN=ON \
    -DVELTRO_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-rtsan -j "$(nproc)" --target veltro_realtime_tests
(cd build-rtsan && ctest -L realtime --output-on-failure)

scripts/build.sh
cd build
ctest --output-on-failure -j 2 --timeout 600
