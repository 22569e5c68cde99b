#!/usr/bin/env bash
# End-to-end tests of valdrixconfig.exe under Wine: one fresh 32-bit prefix on a private X server
# for a group of scenarios, every COM port masked, then e2e.py runs the scenarios of the group
# (each one start of the program, with valdrix-sim on the ports it maps).
#
# Usage: e2e.sh <valdrixconfig.exe> <driver.exe> <valdrix-sim> <group>
set -euo pipefail

here=$(dirname "$(realpath "$0")")
exe=$(realpath "$1")
driver=$(realpath "$2")
sim=$(realpath "$3")
group=$4

# shellcheck source=tools/wine/lib.sh
source "$here/../../tools/wine/lib.sh"
wine_work_dir
trap wine_cleanup EXIT

wine_start_xvfb 800x600x24
wine_make_prefix
wine_mask_ports

python3 "$here/e2e.py" --exe "$exe" --driver "$driver" --sim "$sim" --work "$wine_work" \
  --no-port "$wine_no_port" "$group" "${@:5}"
