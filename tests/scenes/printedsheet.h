#pragma once

#include <QStringList>

#include <opencv2/core.hpp>

// Printed pages need Qt's text rendering, which the desk scene itself does
// not, so that the simulated camera can draw scenes without Qt.

// Lines of Chinese and English text for drawn printed pages.
QStringList sampleTextLines();

// An A4 sheet printed with `lines` in the WenQuanYi font, lying on the desk
// turned by `angle` degrees and photographed slightly blurred and noisy.
cv::Mat drawPrintedSheet(cv::Size frameSize, const QStringList &lines, float angle, unsigned seed = 1);
