#pragma once

#include "app/mediafile.h"
#include "engine/framesource.h"

#include <opencv2/videoio.hpp>

#include <QElapsedTimer>
#include <QString>

#include <string>

// The camera stand-in: a video file or a still image played as if it were a
// camera, paced at the medium's own rate and started again at its end.
class MediaFileSource : public FrameSource {
public:
    explicit MediaFileSource(const QString &path);
    bool open() override;
    bool isOpened() const override;
    bool read(cv::Mat &frame) override;
    bool set(int propId, double value) override;
    double get(int propId) const override;
    void release() override;

private:
    void pace();

    QString m_path;
    cv::VideoCapture m_video;
    cv::Mat m_still;
    bool m_open = false;
    double m_fps = 0.0;
    QElapsedTimer m_clock;
    qint64 m_nextFrameNs = 0;
};
