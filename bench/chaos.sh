#!/usr/bin/env bash
# The open-ended fault campaign (harness/campaign.py): seeded runs for N minutes (default 10),
# JOBS at a time (default 3), from seed FIRST on (default: a random one). Prints each failing
# run with the command that repeats it, then the runs, the runs per minute and the failing seeds.
# Usage: bench/chaos.sh [MINUTES [FIRST]]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset native >/dev/null
cmake --build --preset native -j2 --target valdrix-config valdrix-sim valdrix-configurator >/dev/null
exec python3 harness/campaign.py build/native -j "${JOBS:-3}" --minutes "${1:-10}" ${2:+--first "$2"}
