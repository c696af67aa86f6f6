#!/usr/bin/env bash
# Renders the main window under Xvfb on the demo desk scene, takes one
# photograph so that the result strip shows it, and saves the window as
# docs/screenshot.png (the picture in README.md).
#
#   scripts/screenshot.sh [out.png]
#
# The window shows the work directory as a user sees it, /home/<user>/Tessaran
# ($VORLANT_SCREENSHOT_USER, "teacher" by default): the program runs in a
# private mount namespace where a scratch folder lies over /home, so the real
# /home is neither read nor written. The interface is in the language of
# $VORLANT_SCREENSHOT_LANG (zh_CN.UTF-8, the designed Chinese, by default).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

vorlant_install "${VORLANT_PACKAGES[@]}" "${VORLANT_TEST_PACKAGES[@]}"
vorlant_build RelWithDebInfo

OUT="${1:-$VORLANT_ROOT/docs/screenshot.png}"
WORK="$(mktemp -d)"
XVFB_PID=""
VORLANT_PID=""
cleanup() {
  set +e
  [ -n "$VORLANT_PID" ] && kill "$VORLANT_PID" 2>/dev/null
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT

# -displayfd makes the server choose a free display and write its number.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$WORK/display" >/dev/null 2>&1 &
XVFB_PID=$!
for _ in $(seq 50); do [ -s "$WORK/display" ] && break; sleep 0.2; done
export DISPLAY=":$(cat "$WORK/display")"

# A fresh home: factory settings, photographs in ~/Tessaran.
SHOWN_HOME="/home/${VORLANT_SCREENSHOT_USER:-teacher}"
mkdir -p "$WORK/home"
NAMESPACE=(--mount)
[ "$(id -u)" -eq 0 ] || NAMESPACE=(--user --map-root-user --mount)
unset LANGUAGE LC_ALL LC_MESSAGES
LANG="${VORLANT_SCREENSHOT_LANG:-zh_CN.UTF-8}" QT_QPA_PLATFORM=xcb VORLANT_CAMERA_FILES="$VORLANT_BUILD/demo/desk_demo.avi" \
  unshare "${NAMESPACE[@]}" bash -c 'mount --bind "$1" /home && mkdir -p "$2" && cd "$2" && HOME="$2" exec "$3"' \
  _ "$WORK/home" "$SHOWN_HOME" "$VORLANT_BUILD/vorlant" >"$WORK/vorlant.log" 2>&1 &
VORLANT_PID=$!

WINDOW="$(timeout 40 xdotool search --sync --onlyvisible --name '^vorlant$' | head -n1)"
[ -n "$WINDOW" ] || { echo "vorlant did not show its window" >&2; cat "$WORK/vorlant.log" >&2; exit 1; }
sleep 3
eval "$(xdotool getwindowgeometry --shell "$WINDOW")"
# The shoot button sits 41 pixels left of the right edge and 55 above the bottom.
xdotool mousemove --window "$WINDOW" $((WIDTH - 41)) $((HEIGHT - 55)) click 1
PHOTOS="$WORK/home/${SHOWN_HOME#/home/}/Tessaran"
for _ in $(seq 50); do ls "$PHOTOS"/*.jpg >/dev/null 2>&1 && break; sleep 0.2; done
ls "$PHOTOS"/*.jpg >/dev/null 2>&1 || { echo "no photograph was taken" >&2; cat "$WORK/vorlant.log" >&2; exit 1; }
xdotool mousemove --window "$WINDOW" 400 300
sleep 2

mkdir -p "$(dirname "$OUT")"
"$VORLANT_BUILD/tests/vorlant-screenshot" "$OUT.tmp.png" "$WINDOW"
mv "$OUT.tmp.png" "$OUT"
echo "Saved $OUT"
