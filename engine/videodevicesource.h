#pragma once

#include "engine/framesource.h"

#include <opencv2/videoio.hpp>

// A camera at /dev/videoN, opened through OpenCV's Video4Linux2 back end
// explicitly (the automatic choice would try GStreamer first).
class VideoDeviceSource : public FrameSource {
public:
    explicit VideoDeviceSource(int deviceNumber);
    bool open() override;
    bool isOpened() const override;
    bool read(cv::Mat &frame) override;
    bool set(int propId, double value) override;
    double get(int propId) const override;
    void release() override;
    bool isVideo4Linux() const override { return true; }
    int lastError() const override { return m_error; }

private:
    int m_device;
    int m_error = 0;
    cv::VideoCapture m_capture;
};
