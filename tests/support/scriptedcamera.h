#pragma once

#include "app/camerainfo.h"

#include <QStringLiteral>

// A camera record as discovery would make it, for tests that script the frames.
inline CameraInfo scriptedCamera(int index, QList<QSize> sizes)
{
    CameraInfo camera;
    camera.index = index;
    camera.path = QStringLiteral("cam%1").arg(index);
    camera.sizes = std::move(sizes);
    return camera;
}
