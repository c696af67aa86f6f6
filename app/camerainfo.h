#pragma once

#include <QList>
#include <QSize>
#include <QString>

// One discovered camera: a /dev/videoN node, or a media file standing in for one.
struct CameraInfo {
    int index = 0;
    QString path;
    QString name;
    QList<QString> formats; // kept for the record's shape; discovery leaves it empty
    QList<QSize> sizes;
    bool mediaFile = false; // true for the camera stand-in: path names a video file or still image
};

// The capture size a settings index selects for a camera: the camera's first
// size when the index is outside its list, an invalid size when the camera
// index is outside `cameras` or the camera reports no sizes (with a debug line).
QSize chosenFrameSize(const QList<CameraInfo> &cameras, int cameraIndex, int resolution);
