#pragma once

#include "engine/capturedframe.h"

#include <QImage>

#include <mutex>

// The newest frame a capture loop read and the newest preview picture made
// from it, each replaced as the next one comes. The loop publishes, anyone
// takes; the one lock is held only to swap or copy them. A published preview
// asks for one notification; more previews before it is taken ride on the
// same notification, so a slow reader gets the newest picture, not a queue.
class FrameSlot {
public:
    void publishFrame(const CapturedFrame &frame);
    CapturedFrame frame() const;
    // True when the reader must be told: no notification is on its way yet.
    bool publishPreview(const QImage &picture, quint64 generation);
    // The preview published since the last take, if it belongs to `generation`
    // or a newer one; a null picture otherwise. Ends the pending notification.
    QImage takePreview(quint64 generation);

private:
    mutable std::mutex m_mutex;
    CapturedFrame m_frame;
    QImage m_preview;
    quint64 m_previewGeneration = 0;
    bool m_notified = false;
};
