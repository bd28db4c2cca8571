#!/usr/bin/env bash
# Sets up what is missing, builds, and runs every test: the native unit tests
# and the tests that run the DLL under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
source scripts/lib.sh
qs_need_display "$0" "$@"

qs_build
qs_wine_start
status=0
ctest --test-dir build/native --output-on-failure || status=1
ctest --test-dir build/win --output-on-failure || status=1
exit $status
