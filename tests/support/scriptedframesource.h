#pragma once

#include "engine/framesource.h"

#include <QSet>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

// A frame source whose frames and answers a test decides, and which records
// every call made on it (shared with the test through ScriptedLog). Like a
// real camera, a device held open by one source answers "busy" to another.
// std::mutex rather than QMutex: ThreadSanitizer sees only the former.
struct ScriptedLog {
    std::mutex mutex;
    QStringList calls;
    QSet<QString> openDevices;
    // How long each set() takes, as on a camera slow to answer a control.
    std::atomic<int> setDelayMs{0};

    void add(const QString &call)
    {
        std::lock_guard<std::mutex> lock(mutex);
        calls << call;
    }
    QStringList take()
    {
        std::lock_guard<std::mutex> lock(mutex);
        const QStringList out = copyOfCalls();
        calls.clear();
        return out;
    }
    QStringList snapshot()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return copyOfCalls();
    }
    // A list of its own: one sharing `calls` would be detached by Qt's
    // uninstrumented code, where ThreadSanitizer cannot see the hand-over.
    QStringList copyOfCalls() const
    {
        QStringList out;
        out.reserve(calls.size());
        for (const QString &call : calls)
            out << call;
        return out;
    }
    // Logs "open <name>", or "busy <name>" and false when another source holds the device.
    bool claim(const QString &name)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (openDevices.contains(name)) {
            calls << QStringLiteral("busy %1").arg(name);
            return false;
        }
        openDevices.insert(name);
        calls << QStringLiteral("open %1").arg(name);
        return true;
    }
    void free(const QString &name)
    {
        std::lock_guard<std::mutex> lock(mutex);
        openDevices.remove(name);
        calls << QStringLiteral("release %1").arg(name);
    }
};

class ScriptedFrameSource : public FrameSource {
public:
    // `jpeg`: a Motion-JPEG camera, whose frames can be read as their JPEG bytes.
    ScriptedFrameSource(std::shared_ptr<ScriptedLog> log, QString name, std::function<cv::Mat(int)> frames,
                        bool opens = true, bool v4l2 = false, bool jpeg = false);
    ~ScriptedFrameSource() override;
    bool open() override;
    bool isOpened() const override { return m_open; }
    bool read(cv::Mat &frame) override;
    bool set(int propId, double value) override;
    double get(int propId) const override;
    void release() override;
    bool isVideo4Linux() const override { return m_v4l2; }
    bool keepJpegBytes() override;

private:
    std::shared_ptr<ScriptedLog> m_log;
    QString m_name;
    std::function<cv::Mat(int)> m_frames;
    bool m_opens;
    bool m_v4l2;
    bool m_jpeg;
    bool m_givesBytes = false;
    bool m_open = false;
    int m_readCount = 0;
    double m_width = 0;
    double m_height = 0;
};

// A factory for ImageProcessing that makes scripted sources named after the camera path.
FrameSourceFactory scriptedFactory(std::shared_ptr<ScriptedLog> log, std::function<cv::Mat(int)> frames,
                                   bool opens = true, bool v4l2 = false, bool jpeg = false);
