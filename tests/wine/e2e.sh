#!/usr/bin/env bash
# e2e.py in one fresh 32-bit Wine prefix on a private X server, every COM port masked.
# Usage: e2e.sh <valdrixconfig.exe> <valdrix-config.exe> <driver.exe> <valdrix-sim> <template.json>
set -euo pipefail
here=$(dirname "$(realpath "$0")")
# shellcheck source=tools/wine/lib.sh
source "$here/../../tools/wine/lib.sh"
harness_work_dir
trap wine_cleanup EXIT
harness_start_xvfb 800x600x24
wine_make_prefix
wine_mask_ports
# No window manager here: unmanaged windows go at once instead of after a wait for one.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
python3 "$here/e2e.py" "$(realpath "$1")" "$(realpath "$2")" "$(realpath "$3")" "$(realpath "$4")" \
  "$(realpath "$5")" "$harness_work"
