#pragma once

#include "app/camerainfo.h"

#include <opencv2/core.hpp>

#include <functional>
#include <memory>

// The seam between the capture thread and whatever delivers frames: a real
// camera, the camera stand-in, or a scripted source in tests. Not thread-safe;
// the capture thread serialises every call.
class FrameSource {
public:
    virtual ~FrameSource() = default;
    virtual bool open() = 0;
    virtual bool isOpened() const = 0;
    // Blocks until the next frame; false and an empty frame when none came.
    virtual bool read(cv::Mat &frame) = 0;
    virtual bool set(int propId, double value) = 0;
    virtual double get(int propId) const = 0;
    virtual void release() = 0;
    // Video4Linux2 takes menu values for automatic exposure, not the generic ones.
    virtual bool isVideo4Linux() const { return false; }
    // The system error (errno) of the last failed open or read; 0 when none is known.
    virtual int lastError() const { return 0; }
    // Asks a Motion-JPEG camera, once configured, for its own JPEG bytes
    // instead of decoded pixels. True when read() now gives each frame's
    // bytes as one row of CV_8UC1; false (and pixels as before) otherwise.
    virtual bool keepJpegBytes() { return false; }
};

using FrameSourceFactory = std::function<std::unique_ptr<FrameSource>(const CameraInfo &)>;

// A real camera for a /dev/videoN record, the file-backed stand-in for a media-file record.
std::unique_ptr<FrameSource> makeFrameSource(const CameraInfo &camera);
