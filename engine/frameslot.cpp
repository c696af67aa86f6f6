#include "engine/frameslot.h"

#include <utility>

void FrameSlot::publishFrame(const CapturedFrame &frame)
{
    CapturedFrame old;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        old = std::exchange(m_frame, frame);
    }
    // The old frame's data may be the last reference: freed outside the lock.
}

CapturedFrame FrameSlot::frame() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frame;
}

bool FrameSlot::publishPreview(const QImage &picture, quint64 generation)
{
    QImage old;
    std::lock_guard<std::mutex> lock(m_mutex);
    old = std::exchange(m_preview, picture);
    m_previewGeneration = generation;
    return !std::exchange(m_notified, true);
}

QImage FrameSlot::takePreview(quint64 generation)
{
    QImage picture;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_notified = false;
    picture = std::exchange(m_preview, QImage());
    if (m_previewGeneration < generation)
        return {};
    return picture;
}
