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

// One whole photograph request: builds the pictures from `frame` (8-bit BGR),
// paints, names and writes them into the work directory. Never throws, never
// overwrites a file, never leaves a partial file under a final name.
PhotoResult capturePhotos(const cv::Mat &frame, const PhotoOptions &options, const CaptureRequest &request,
                          const ConfigValues &settings, const QList<QSize> &outputSizes, const NumberSource &nextNumber);
