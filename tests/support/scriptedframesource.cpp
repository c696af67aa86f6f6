#include "support/scriptedframesource.h"

#include <QThread>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

ScriptedFrameSource::ScriptedFrameSource(std::shared_ptr<ScriptedLog> log, QString name,
                                         std::function<cv::Mat(int)> frames, bool opens, bool v4l2, bool jpeg)
    : m_log(std::move(log)), m_name(std::move(name)), m_frames(std::move(frames)), m_opens(opens), m_v4l2(v4l2),
      m_jpeg(jpeg)
{
}

ScriptedFrameSource::~ScriptedFrameSource()
{
    // Destroying a capture closes its device, as cv::VideoCapture does.
    release();
}

bool ScriptedFrameSource::open()
{
    release();
    if (!m_opens) {
        m_log->add(QStringLiteral("open %1").arg(m_name));
        return false;
    }
    m_open = m_log->claim(m_name);
    return m_open;
}

bool ScriptedFrameSource::read(cv::Mat &frame)
{
    if (!m_open) {
        frame.release();
        return false;
    }
    // Pace like a 200 fps camera so loops in tests do not spin.
    QThread::msleep(5);
    const cv::Mat produced = m_frames ? m_frames(m_readCount++) : cv::Mat();
    if (produced.empty()) {
        frame.release();
        return false;
    }
    if (m_givesBytes) {
        std::vector<uchar> bytes;
        cv::imencode(".jpg", produced, bytes);
        cv::Mat(1, static_cast<int>(bytes.size()), CV_8UC1, bytes.data()).copyTo(frame);
        return true;
    }
    // As cv::VideoCapture::read does: into the caller's buffer when its size
    // and type fit, whoever else still shares that buffer.
    produced.copyTo(frame);
    return true;
}

bool ScriptedFrameSource::keepJpegBytes()
{
    m_givesBytes = m_jpeg && m_open;
    return m_givesBytes;
}

bool ScriptedFrameSource::set(int propId, double value)
{
    if (const int delay = m_log->setDelayMs.load())
        QThread::msleep(static_cast<unsigned long>(delay));
    m_log->add(QStringLiteral("set %1 %2").arg(propId).arg(value));
    if (propId == cv::CAP_PROP_FRAME_WIDTH)
        m_width = value;
    if (propId == cv::CAP_PROP_FRAME_HEIGHT)
        m_height = value;
    return true;
}

double ScriptedFrameSource::get(int propId) const
{
    if (propId == cv::CAP_PROP_FRAME_WIDTH)
        return m_width;
    if (propId == cv::CAP_PROP_FRAME_HEIGHT)
        return m_height;
    return 0.0;
}

void ScriptedFrameSource::release()
{
    if (m_open)
        m_log->free(m_name);
    m_open = false;
}

FrameSourceFactory scriptedFactory(std::shared_ptr<ScriptedLog> log, std::function<cv::Mat(int)> frames, bool opens,
                                   bool v4l2, bool jpeg)
{
    return [=](const CameraInfo &camera) -> std::unique_ptr<FrameSource> {
        return std::make_unique<ScriptedFrameSource>(log, camera.path, frames, opens, v4l2, jpeg);
    };
}
