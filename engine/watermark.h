#pragma once

#include "app/config.h"
#include "engine/photo.h"

#include <QDateTime>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QSize>
#include <QString>

// The watermark text at `now`: the time when the time stamp is on, else the
// configured text. Empty means no watermark.
QString watermarkText(const ConfigValues &settings, const QDateTime &now);

// The font the watermark is drawn in.
QFont watermarkFont(const ConfigValues &settings);

// How far the centred text is moved for the configured position, measured
// with the text's single-line bounding box.
QPoint watermarkShift(const QSize &pictureSize, const QSize &textSize, int xPercent, int yPercent);

// Where a secondary picture of `secondary` size lands in a picture
// `pictureWidth` wide: the top-left corner, or the top-right one for the
// second inset. Empty when the secondary picture is empty.
QRect insetRect(int pictureWidth, const QSize &secondary, int percentage, bool second);

// A copy of the picture that QPainter can draw on: an 8-bit indexed picture
// becomes grey (or 32-bit when its colours are not grey); others are kept.
QImage paintableCopy(const QImage &picture);

// Paints the watermark text through a transparent overlay limited to the
// text's box. Leaves the painter at the watermark's opacity.
void paintWatermark(QPainter &painter, const QString &text, const ConfigValues &settings);

// The same through an overlay as large as the picture; kept to check
// paintWatermark against, pixel for pixel.
void paintWatermarkFullOverlay(QPainter &painter, const QString &text, const ConfigValues &settings);

// A painted copy of one photograph: watermark (if any), then the secondary
// pictures as insets when picture-in-picture is on. A picture the painter
// cannot open is returned unpainted.
QImage paintPhoto(const QImage &picture, const ConfigValues &settings, const CaptureRequest &request,
                  bool pictureInPicture, const QDateTime &now);
