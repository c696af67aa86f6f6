#pragma once

#include <QImage>

#include <opencv2/core.hpp>

#include <cstddef>

// Converts an 8-bit matrix to a QImage that owns its pixels: 1 channel to
// Indexed8 with a grey table, 3 channels (BGR) to RGB888, 4 channels to ARGB32.
// Any other type, or an empty matrix, gives a null image.
QImage matToQImage(const cv::Mat &mat);

// The picture size a JPEG stream's frame header declares; empty when the
// bytes hold no frame header before their scan (not JPEG, or cut short).
cv::Size jpegPictureSize(const uchar *bytes, size_t count);

// Decodes JPEG bytes to 8-bit BGR at 1/factor of their size (1, 2, 4 or 8),
// scaled inside the decoder; empty when they do not decode.
cv::Mat decodeJpeg(const cv::Mat &bytes, int factor);

// The largest reduction (8, 4, 2 or 1) at which a frame of `frame` pixels is
// still at least as large as it is drawn when fitted into `shown` (never
// enlarged, as the preview draws it). An empty `shown` means the size it will
// be drawn at is not known: 1.
int previewReduction(cv::Size frame, cv::Size shown);
