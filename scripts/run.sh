#!/usr/bin/env bash
# Installs what is missing, builds, and starts vorlant on the current display.
# Without a camera it plays the bundled demo desk scene through the camera stand-in.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

vorlant_install "${VORLANT_PACKAGES[@]}"
vorlant_build RelWithDebInfo

if [ -z "${VORLANT_CAMERA_FILES:-}" ] && ! ls /dev/video[0-9]* >/dev/null 2>&1; then
  export VORLANT_CAMERA_FILES="$VORLANT_BUILD/demo/desk_demo.avi"
  echo "No camera found at /dev/video0: showing the demo desk scene ($VORLANT_CAMERA_FILES)."
fi

# Settings (system.ini) live in the working directory the program starts in.
mkdir -p "$VORLANT_ROOT/run"
cd "$VORLANT_ROOT/run"
exec "$VORLANT_BUILD/vorlant" "$@"
