#!/usr/bin/env bash
# screens.sh [OUT_DIR]: renders every window of the station into PNG files
# (default build/screens/) under Xvfb with the xcb platform, so that fonts and
# frames are real, driving the windows against the modem simulator.
# screens.sh --readme: only the main window in operation, into docs/screenshot.png.
# Takes two to three minutes: the station reads the simulated SMS at its own pace.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh" "$top/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo --target korvalen-screens

if [ "${1-}" = "--readme" ]; then
  mkdir -p "$top/docs"
  args=(--readme "$top/docs/screenshot.png")
else
  args=(--out "${1:-$top/build/screens}")
fi
xvfb-run -a -s "-screen 0 1280x1024x24" env QT_QPA_PLATFORM=xcb \
  "$top/build/bin/korvalen-screens" "${args[@]}"
