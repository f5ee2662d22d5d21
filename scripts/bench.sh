#!/usr/bin/env bash
# Runs the benchmark (not a test): a full firmware update and one ap-stop
# against the simulator paced at 38400 baud, with the times they require.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup-deps.sh"
"$top/scripts/build.sh"
exec "$top/build/native/tests/tq_bench"
