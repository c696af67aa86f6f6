#pragma once

#include <QImage>

#include <opencv2/core.hpp>

// Converts an 8-bit matrix to a QImage that owns its pixels: 1 channel to
// Indexed8 with a grey table, 3 channels (BGR) to RGB888, 4 channels to ARGB32.
// Any other type, or an empty matrix, gives a null image.
QImage matToQImage(const cv::Mat &mat);
