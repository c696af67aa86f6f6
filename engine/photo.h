#pragma once

#include "app/config.h"

#include <QImage>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

#include <opencv2/core.hpp>

#include <functional>

// What the GUI thread hands over with a photograph request: the pictures of
// the two secondary cameras and whether each of their dialogs is shown.
struct CaptureRequest {
    QImage first;
    QImage second;
    bool firstPresent = false;
    bool secondPresent = false;
};

// The capture thread's switches at the moment of the photograph.
struct PhotoOptions {
    int correctionMode = 0;
    int shootingType = 0;
    int rotation = 0;
    bool pictureInPicture = false;
    bool saveAsTiff = false;
};

// Files actually written, in order, and a message for each failure.
struct PhotoResult {
    QList<QString> written;
    QStringList errors;
};

// Returns the running number to use next and advances it (thread-safe).
using NumberSource = std::function<int()>;

// One picture to write, and what to tell the user if it turned out empty.
struct PhotoPicture {
    QImage image;
    QString emptyMessage;
};

// The size whole pictures are scaled to: the entry at `index`, or the factory
// entry when the index is out of range (an empty list means the standard sizes).
QSize photoOutputSize(const QList<QSize> &outputSizes, int index);

// One document cut out of a processed picture and set upright; not scaled.
// Empty when the rectangle has no area.
cv::Mat extractDocument(const cv::Mat &processed, const cv::RotatedRect &rect);

// The same by turning the whole picture; kept to check extractDocument
// against, pixel for pixel.
cv::Mat extractDocumentByFullWarp(const cv::Mat &processed, const cv::RotatedRect &rect);

// A cut-out as a picture, turned by the rotation index.
QImage cutOutDocument(const cv::Mat &processed, const cv::RotatedRect &rect, int rotation);

// The whole processed picture fitted into the output size and turned.
QImage wholePicture(const cv::Mat &processed, const QSize &outputSize, int rotation);

// The pictures one request writes, in order: the whole picture (mode 0) or
// one cut-out per document (modes 1 and 2), then the shown secondary pictures
// unless they become insets. `frame` must not be empty.
QList<PhotoPicture> buildPhotoPictures(const cv::Mat &frame, const PhotoOptions &options,
                                       const CaptureRequest &request, const QSize &outputSize);

// One whole photograph request: builds the pictures from `frame` (8-bit BGR),
// paints, names and writes them into the work directory. Never throws, never
// overwrites a file, never leaves a partial file under a final name.
PhotoResult capturePhotos(const cv::Mat &frame, const PhotoOptions &options, const CaptureRequest &request,
                          const ConfigValues &settings, const QList<QSize> &outputSizes, const NumberSource &nextNumber);
