#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <opencv2/core.hpp>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace cv {
class VideoWriter;
}

// When a recording continues in a new file. OpenCV's Motion-JPEG AVI writer
// breaks at 4 GiB, and a crash loses only the file being written.
struct RecordingLimits {
    static constexpr qint64 kDefaultMaxPartBytes = qint64(2) << 30;
    static constexpr qint64 kDefaultMaxPartMs = 5 * 60 * 1000;
    qint64 maxPartBytes = kDefaultMaxPartBytes;
    qint64 maxPartMs = kDefaultMaxPartMs;
};

// Writes one recording as Motion-JPEG AVI files on a worker thread of its
// own. The GUI thread hands over frames (sharing their pixels); the number of
// frames in the files follows the wall clock at a fixed declared rate, by
// repeating a picture when the camera is slower and dropping pictures when
// encoding falls behind. Each file is written under a temporary name in the
// work directory and renamed to its final name once it is complete.
class VideoRecorder : public QObject {
    Q_OBJECT

public:
    static constexpr double kFramesPerSecond = 10.0;
    // Pictures waiting for the encoder; beyond this the newest picture is
    // dropped and the one before it stands in for its time.
    static constexpr int kQueueCapacity = 4;

    VideoRecorder(const QString &directory, const QDateTime &startTime, RecordingLimits limits = {},
                  QObject *parent = nullptr);
    ~VideoRecorder() override;

    // Opens the first file for frames of this size and starts the clock; on
    // false, errorString() says why and nothing has been left behind.
    bool start(cv::Size frameSize);
    QString errorString() const { return m_startError; }
    // The final name of the first file ("yyyy_MM_dd_HH_mm_ss.zzz.avi").
    QString firstFilePath() const;

    // Frames the files should have gained since the last hand-over, by the clock.
    int framesDue() const;
    // Hands over a picture for the frames due now; does nothing when none are due.
    void addFrame(const cv::Mat &frame);
    // Writes what is waiting, completes the last file and returns every
    // completed file in order. Later calls return the same list.
    QStringList finish();

    int droppedPictures() const { return m_dropped; }

signals:
    // Emitted from the worker thread when a file cannot be made, written or completed.
    void failed(QString message);

private:
    struct Pending {
        cv::Mat frame;
        qint64 repeats = 0;
    };

    void work();
    void writeRepeated(const cv::Mat &frame, qint64 repeats);
    bool partFull() const;
    bool openPart(QString *error);
    bool closePart(QString *error);
    void fail(const QString &message);
    QString finalName(int index) const;
    QString temporaryName(int index) const;

    QString m_directory;
    QString m_stem;
    RecordingLimits m_limits;
    cv::Size m_frameSize;

    // GUI side.
    QElapsedTimer m_clock;
    qint64 m_framesHanded = 0;
    int m_dropped = 0;
    QString m_startError;
    bool m_finished = false;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Pending> m_queue;
    bool m_stopping = false;
    std::thread m_worker;

    // Worker side (and start(), before the worker exists); read by the GUI
    // thread only after the worker has been joined.
    std::unique_ptr<cv::VideoWriter> m_writer;
    QString m_partTemporary;
    int m_partIndex = 0;
    int m_nextIndex = 1;
    qint64 m_partFrames = 0;
    bool m_broken = false;
    QStringList m_completed;
};
