# Shared by run.sh and test.sh: installs what a minimal Debian 12 lacks, then builds.
set -euo pipefail

VORLANT_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VORLANT_BUILD="${VORLANT_BUILD:-$VORLANT_ROOT/build}"

VORLANT_PACKAGES=(
  build-essential cmake pkg-config
  qtbase5-dev qtbase5-dev-tools
  libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev libopencv-videoio-dev libopencv-dnn-dev
  fonts-dejavu-core fonts-wqy-microhei
  libhpdf-dev libtiff-dev zlib1g-dev libjpeg-dev
  libavformat-dev libavcodec-dev libavutil-dev
  libtesseract-dev tesseract-ocr-chi-sim tesseract-ocr-eng
  python3-onnx
  qtmultimedia5-dev libqt5multimedia5-plugins
  qttools5-dev qttools5-dev-tools qttranslations5-l10n
)
# npm fetches the text-recognition models. A machine whose Node.js comes from
# elsewhere already has an npm that Debian's package would conflict with.
command -v npm >/dev/null 2>&1 || VORLANT_PACKAGES+=(npm)

# lintian, debootstrap and file: making and checking the Debian package;
# the CJK faces: the printed pages of the text-recognition tests.
VORLANT_TEST_PACKAGES=(xvfb xauth xdotool poppler-utils poppler-data qpdf desktop-file-utils appstream
  lintian debootstrap debian-archive-keyring file
  fonts-arphic-uming fonts-arphic-ukai fonts-noto-cjk)

vorlant_install() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Need root or sudo to install: ${missing[*]}" >&2; exit 1; }
    sudo="sudo"
  fi
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

vorlant_build() {
  local type="${1:-RelWithDebInfo}"
  shift || true
  cmake -S "$VORLANT_ROOT" -B "$VORLANT_BUILD" -DCMAKE_BUILD_TYPE="$type" "$@" >/dev/null
  cmake --build "$VORLANT_BUILD" -j"$(nproc)"
}
