#pragma once

#include "engine/ocrlines.h"

#include <opencv2/core.hpp>

// The recogniser's language: Simplified Chinese alone reads mixed pages
// better than with the English model, which mangles Chinese.
constexpr char kOcrLanguage[] = "chi_sim";

// The resolution a grey page picture was taken at, in dots per inch, as
// the recogniser needs it: from the page's size when it has the proportions
// of an A-series or Letter sheet, else from the height of its text lines.
int estimatedResolution(const cv::Mat &grey);

// The characters of `text` (spaces aside) with the spaces `spaced` has
// between the same characters: two readings of a line, the first with the
// better characters, the second with the better word spacing.
QString withSpacesOf(const QString &text, const QString &spaced);

// Reads the text lines of an 8-bit grey or BGR picture in reading order (top
// to bottom, a column before the one to its right; a page laid a few degrees
// askew is levelled first), each with its bounding box in the picture's
// pixels. False with `error` set when the recogniser cannot start or the
// picture is unusable.
bool recogniseTextLines(const cv::Mat &picture, QList<OcrLine> *lines, QString *error);
