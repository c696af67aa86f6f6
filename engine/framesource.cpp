#include "engine/framesource.h"

#include "engine/mediafilesource.h"
#include "engine/videodevicesource.h"

#include <QThread>

#include <opencv2/imgcodecs.hpp>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>

namespace {
constexpr double kDefaultStandInFps = 30.0;
constexpr char kV4l2ReadTimeoutVariable[] = "OPENCV_VIDEOIO_V4L_SELECT_TIMEOUT";

// A value the user set is kept. Set while the program is still one thread:
// setenv is not safe beside getenv on another thread.
[[maybe_unused]] const bool kCameraReadsBounded =
    setenv(kV4l2ReadTimeoutVariable, std::to_string(VideoDeviceSource::kReadTimeoutSec).c_str(), 0) == 0;
} // namespace

std::unique_ptr<FrameSource> makeFrameSource(const CameraInfo &camera)
{
    if (camera.mediaFile)
        return std::make_unique<MediaFileSource>(camera.path);
    return std::make_unique<VideoDeviceSource>(camera.index);
}

VideoDeviceSource::VideoDeviceSource(int deviceNumber) : m_device(deviceNumber) {}

bool VideoDeviceSource::open()
{
    errno = 0;
    const bool ok = m_capture.open(m_device, cv::CAP_V4L2);
    m_error = ok ? 0 : errno;
    return ok;
}

bool VideoDeviceSource::isOpened() const
{
    return m_capture.isOpened();
}

bool VideoDeviceSource::read(cv::Mat &frame)
{
    errno = 0;
    if (!m_capture.isOpened() || !m_capture.read(frame)) {
        m_error = errno;
        frame.release();
        return false;
    }
    m_error = 0;
    return !frame.empty();
}

bool VideoDeviceSource::set(int propId, double value)
{
    return m_capture.set(propId, value);
}

double VideoDeviceSource::get(int propId) const
{
    return m_capture.get(propId);
}

bool VideoDeviceSource::keepJpegBytes()
{
    // The back end hands over the buffer as the camera filled it when it
    // converts nothing; only Motion-JPEG buffers are whole pictures by themselves.
    const int format = static_cast<int>(m_capture.get(cv::CAP_PROP_FOURCC));
    if (!m_capture.isOpened() || format != cv::VideoWriter::fourcc('M', 'J', 'P', 'G'))
        return false;
    return m_capture.set(cv::CAP_PROP_CONVERT_RGB, 0.0);
}

void VideoDeviceSource::release()
{
    m_capture.release();
}

MediaFileSource::MediaFileSource(const QString &path) : m_path(path) {}

bool MediaFileSource::open()
{
    release();
    const std::string name = m_path.toStdString();
    if (cv::haveImageReader(name)) {
        m_still = cv::imread(name, cv::IMREAD_COLOR);
        if (!m_still.empty()) {
            m_fps = kDefaultStandInFps;
            m_open = true;
        }
    }
    if (!m_open && openVideoFile(m_video, name)) {
        const double fps = m_video.get(cv::CAP_PROP_FPS);
        m_fps = (std::isfinite(fps) && fps > 0.5 && fps < 1000.0) ? fps : kDefaultStandInFps;
        m_open = true;
    }
    m_clock.start();
    m_nextFrameNs = 0;
    return m_open;
}

bool MediaFileSource::isOpened() const
{
    return m_open;
}

void MediaFileSource::pace()
{
    const qint64 period = static_cast<qint64>(1e9 / m_fps);
    const qint64 now = m_clock.nsecsElapsed();
    if (m_nextFrameNs > now)
        QThread::usleep(static_cast<unsigned long>((m_nextFrameNs - now) / 1000));
    // After a long stall, start pacing afresh instead of rushing to catch up.
    m_nextFrameNs = std::max(m_nextFrameNs, now - period) + period;
}

bool MediaFileSource::read(cv::Mat &frame)
{
    if (!m_open) {
        frame.release();
        return false;
    }
    pace();
    if (!m_still.empty()) {
        m_still.copyTo(frame);
        return true;
    }
    if (m_video.read(frame) && !frame.empty())
        return true;
    // At the end of the medium, start again from its first frame.
    m_video.set(cv::CAP_PROP_POS_FRAMES, 0);
    if (m_video.read(frame) && !frame.empty())
        return true;
    frame.release();
    return false;
}

bool MediaFileSource::set(int, double)
{
    // A file has no controls; like a camera that refuses them.
    return false;
}

double MediaFileSource::get(int propId) const
{
    if (!m_open)
        return 0.0;
    switch (propId) {
    case cv::CAP_PROP_FPS:
        return m_fps;
    case cv::CAP_PROP_FRAME_WIDTH:
        return m_still.empty() ? m_video.get(propId) : m_still.cols;
    case cv::CAP_PROP_FRAME_HEIGHT:
        return m_still.empty() ? m_video.get(propId) : m_still.rows;
    default:
        return m_still.empty() ? m_video.get(propId) : 0.0;
    }
}

void MediaFileSource::release()
{
    m_video.release();
    m_still.release();
    m_open = false;
}
