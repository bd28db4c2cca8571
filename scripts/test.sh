#!/usr/bin/env bash
# Sets up what is missing, builds, and runs every test: the native unit tests
# (plain, then under AddressSanitizer and UndefinedBehaviorSanitizer) and the
# tests that run the DLL under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
source scripts/lib.sh
qs_need_display "$0" "$@"

qs_build
cmake -S . -B build/sanitize -G Ninja -DQS_SANITIZE=ON >/dev/null
cmake --build build/sanitize --target unit_tests
qs_wine_start
status=0
ctest --test-dir build/native --output-on-failure || status=1
ctest --test-dir build/sanitize --output-on-failure || status=1
ctest --test-dir build/win --output-on-failure || status=1
exit $status
