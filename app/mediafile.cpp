#include "app/mediafile.h"

#include <QFileInfo>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>
#include <opencv2/videoio/registry.hpp>

bool openVideoFile(cv::VideoCapture &video, const std::string &path)
{
    for (const int backend : {cv::CAP_FFMPEG, cv::CAP_OPENCV_MJPEG}) {
        if (cv::videoio_registry::hasBackend(static_cast<cv::VideoCaptureAPIs>(backend)) &&
            video.open(path, backend))
            return true;
    }
    return false;
}

QSize mediaFrameSize(const QString &path)
{
    const std::string name = path.toStdString();
    if (!QFileInfo(path).isFile())
        return {};
    if (cv::haveImageReader(name)) {
        const cv::Mat still = cv::imread(name, cv::IMREAD_COLOR);
        if (!still.empty())
            return QSize(still.cols, still.rows);
    }
    cv::VideoCapture video;
    if (!openVideoFile(video, name))
        return {};
    cv::Mat frame;
    if (!video.read(frame) || frame.empty())
        return {};
    return QSize(frame.cols, frame.rows);
}
