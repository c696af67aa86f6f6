#pragma once

#include "engine/framesource.h"

#include <QMutex>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

// A frame source whose frames and answers a test decides, and which records
// every call made on it (shared with the test through ScriptedLog).
struct ScriptedLog {
    QMutex mutex;
    QStringList calls;
    void add(const QString &call)
    {
        QMutexLocker lock(&mutex);
        calls << call;
    }
    QStringList take()
    {
        QMutexLocker lock(&mutex);
        QStringList out = calls;
        calls.clear();
        return out;
    }
    QStringList snapshot()
    {
        QMutexLocker lock(&mutex);
        return calls;
    }
};

class ScriptedFrameSource : public FrameSource {
public:
    ScriptedFrameSource(std::shared_ptr<ScriptedLog> log, QString name, std::function<cv::Mat(int)> frames,
                        bool opens = true, bool v4l2 = false);
    bool open() override;
    bool isOpened() const override { return m_open; }
    bool read(cv::Mat &frame) override;
    bool set(int propId, double value) override;
    double get(int propId) const override;
    void release() override;
    bool isVideo4Linux() const override { return m_v4l2; }

private:
    std::shared_ptr<ScriptedLog> m_log;
    QString m_name;
    std::function<cv::Mat(int)> m_frames;
    bool m_opens;
    bool m_v4l2;
    bool m_open = false;
    int m_readCount = 0;
    double m_width = 0;
    double m_height = 0;
};

// A factory for ImageProcessing that makes scripted sources named after the camera path.
FrameSourceFactory scriptedFactory(std::shared_ptr<ScriptedLog> log, std::function<cv::Mat(int)> frames,
                                   bool opens = true, bool v4l2 = false);
