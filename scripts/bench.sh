#!/usr/bin/env bash
# Runs the benchmark (not a test): one ap-stop, a full firmware update and a
# 128 KB flash write and read against the simulator paced at 38400 baud, each
# next to the time the line, the fixed pauses and the 10 ms polls require.
# Takes about 100 s, some 80 s of it the two transfers.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup-deps.sh"
"$top/scripts/build.sh"
exec "$top/build/native/tests/tq_bench"
