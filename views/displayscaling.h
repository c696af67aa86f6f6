#pragma once

#include <QImage>
#include <QSize>

// The size a frame is drawn at in a widget at zoom 1.0: as large as fits,
// never enlarged, truncated to whole pixels (height first, then width).
QSize fittedPictureSize(QSize frame, QSize widget);

// The frame scaled down to `target` by area averaging (the same filter as Qt's
// smooth scaling) as an RGB32 picture that blits without conversion. Works
// straight on the pixels of RGB888 and grey pictures; anything else,
// and any enlargement, goes through QImage::scaled. The pixels of `buffer` are
// reused when it is an unshared RGB32 picture of the target size, which spares
// the page faults of a fresh allocation on every camera picture.
QImage scaleForDisplay(const QImage &frame, QSize target, QImage buffer = QImage());
