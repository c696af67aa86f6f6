// TEMPORARY: replaced by the photograph module being written now.
#include "engine/photo.h"

PhotoResult capturePhotos(const cv::Mat &, const PhotoOptions &, const CaptureRequest &, const ConfigValues &,
                          const QList<QSize> &, const NumberSource &)
{
    PhotoResult r;
    r.errors << QStringLiteral("not built yet");
    return r;
}
