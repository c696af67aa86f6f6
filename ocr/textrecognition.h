#pragma once

#include "engine/ocrlines.h"

#include <opencv2/core.hpp>

// The recogniser's language: Simplified Chinese alone reads mixed pages
// better than with the English model, which mangles Chinese.
constexpr char kOcrLanguage[] = "chi_sim";

// Reads the text lines of an 8-bit grey or BGR picture, top to bottom, each
// with its bounding box in the picture's pixels. False with `error` set when
// the recogniser cannot start or the picture is unusable.
bool recogniseTextLines(const cv::Mat &picture, QList<OcrLine> *lines, QString *error);
