#!/usr/bin/env bash
# Runs one fuzz target for N minutes, one job, on a scratch copy of its corpus; prints libFuzzer's
# final stats (executions, cov: edges).
# Usage: bench/fuzz.sh session|telnet|network|settings|options [MINUTES, default 10]
set -euo pipefail
exec bash "$(dirname "$0")/../harness/fuzz.sh" "$(( ${2:-10} * 60 ))" "${1:?name a fuzz target}"
