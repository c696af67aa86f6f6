#include "app/camerainfo.h"

#include "app/logging.h"

QSize chosenFrameSize(const QList<CameraInfo> &cameras, int cameraIndex, int resolution)
{
    if (cameraIndex < 0 || cameraIndex >= cameras.size()) {
        qCDebug(lcCamera) << "camera index" << cameraIndex << "is not in the list of" << cameras.size() << "cameras";
        return QSize();
    }
    const QList<QSize> &sizes = cameras.at(cameraIndex).sizes;
    if (sizes.isEmpty()) {
        qCDebug(lcCamera) << "camera" << cameraIndex << "reports no frame sizes";
        return QSize();
    }
    if (resolution < 0 || resolution >= sizes.size()) {
        qCDebug(lcCamera) << "image/resolution" << resolution << "is not offered by camera" << cameraIndex
                 << "; using its first size";
        return sizes.first();
    }
    return sizes.at(resolution);
}
