#pragma once

#include "engine/framesource.h"

#include <opencv2/videoio.hpp>

// A camera at /dev/videoN, opened through OpenCV's Video4Linux2 back end
// explicitly (the automatic choice would try GStreamer first).
class VideoDeviceSource : public FrameSource {
public:
    // Longest a single read may wait for the camera. OpenCV's Video4Linux2
    // back end takes it, in whole seconds, from OPENCV_VIDEOIO_V4L_SELECT_TIMEOUT
    // (set before the first camera opens) and waits 10 s without it.
    static constexpr int kReadTimeoutSec = 1;

    explicit VideoDeviceSource(int deviceNumber);
    bool open() override;
    bool isOpened() const override;
    bool read(cv::Mat &frame) override;
    bool set(int propId, double value) override;
    double get(int propId) const override;
    void release() override;
    bool isVideo4Linux() const override { return true; }
    int lastError() const override { return m_error; }
    bool keepJpegBytes() override;

private:
    int m_device;
    int m_error = 0;
    cv::VideoCapture m_capture;
};
