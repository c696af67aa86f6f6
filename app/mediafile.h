#pragma once

#include <QSize>
#include <QString>

#include <string>

namespace cv {
class VideoCapture;
}

// Opens a video file with the file back ends only (FFmpeg, then OpenCV's own
// Motion-JPEG reader): the automatic choice would start GStreamer and probe
// camera buses first, which is slow and noisy for a plain file.
bool openVideoFile(cv::VideoCapture &video, const std::string &path);

// The one frame size of a still image or a video file; invalid when unreadable.
QSize mediaFrameSize(const QString &path);
