#include "support/scriptedframesource.h"

#include <QThread>

#include <opencv2/videoio.hpp>

ScriptedFrameSource::ScriptedFrameSource(std::shared_ptr<ScriptedLog> log, QString name,
                                         std::function<cv::Mat(int)> frames, bool opens, bool v4l2)
    : m_log(std::move(log)), m_name(std::move(name)), m_frames(std::move(frames)), m_opens(opens), m_v4l2(v4l2)
{
}

bool ScriptedFrameSource::open()
{
    m_log->add(QStringLiteral("open %1").arg(m_name));
    m_open = m_opens;
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
    frame = m_frames ? m_frames(m_readCount++) : cv::Mat();
    return !frame.empty();
}

bool ScriptedFrameSource::set(int propId, double value)
{
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
        m_log->add(QStringLiteral("release %1").arg(m_name));
    m_open = false;
}

FrameSourceFactory scriptedFactory(std::shared_ptr<ScriptedLog> log, std::function<cv::Mat(int)> frames, bool opens,
                                   bool v4l2)
{
    return [=](const CameraInfo &camera) -> std::unique_ptr<FrameSource> {
        return std::make_unique<ScriptedFrameSource>(log, camera.path, frames, opens, v4l2);
    };
}
