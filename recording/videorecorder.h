#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <opencv2/core.hpp>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class MjpegAviWriter;

// When a recording continues in a new file: a crash loses only the file being
// written, and files stay a size every player and file system takes.
struct RecordingLimits {
    static constexpr qint64 kDefaultMaxPartBytes = qint64(2) << 30;
    static constexpr qint64 kDefaultMaxPartMs = 5 * 60 * 1000;
    qint64 maxPartBytes = kDefaultMaxPartBytes;
    qint64 maxPartMs = kDefaultMaxPartMs;
};

// Writes one recording as Motion-JPEG AVI files on a thread of its own. The
// GUI thread hands over frames (sharing their pixels); the number of frames in
// the files follows the wall clock at a fixed declared rate. Each distinct
// picture is encoded once; a repeated picture, or the time that passes while
// the encoder is busy, is filled with the last encoded frame again, so the
// work per second of recording is bounded and nothing queues up. Each file is
// written under a temporary name in the work directory and renamed once it is
// complete and on the disk. A failed write ends the recording; what was
// written is kept whole under its final name.
class VideoRecorder : public QObject {
    Q_OBJECT

public:
    static constexpr double kFramesPerSecond = 10.0;
    // A camera's own noise outweighs the coding error from this quality on:
    // higher ones spend bytes (95 takes about 60% more) on the noise alone.
    static constexpr int kJpegQuality = 90;

    VideoRecorder(const QString &directory, const QDateTime &startTime, RecordingLimits limits = {},
                  QObject *parent = nullptr);
    // Stops and waits for the last file to be complete.
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
    // Lets the recorder's thread write the frames handed over and complete
    // the last file; returns at once. finishedSignal() follows.
    void stop();
    // Waits up to `ms` for the recorder's thread to be done; true when it is.
    bool waitDone(int ms);
    // Stops, waits and returns every completed file in order.
    QStringList finish();

    // Valid once done: the files that are complete and whole, in order.
    QStringList completedFiles() const;
    // Valid once done: why the recording ended before it was stopped, for the
    // user, with the files kept; empty when it did not.
    QString failure() const;
    // Valid once done: milliseconds spent on each distinct picture, by the
    // clock and in processor time of the recorder's thread.
    std::vector<double> encodeTimesMs() const;
    std::vector<double> encodeCpuTimesMs() const;
    // Pictures passed over because the encoder was still busy.
    int skippedPictures() const { return m_skipped; }

signals:
    // From the recorder's thread once it is done, stopped or failed.
    void finishedSignal();

private:
    void work();
    bool encode(const cv::Mat &frame);
    bool writeFrames(qint64 count);
    bool partFull() const;
    bool openPart(QString *error);
    bool completePart();
    QString finalName(int index) const;
    QString temporaryName(int index) const;

    QString m_directory;
    QString m_stem;
    RecordingLimits m_limits;
    cv::Size m_frameSize;

    // GUI side.
    QElapsedTimer m_clock;
    qint64 m_framesHanded = 0;
    int m_skipped = 0;
    cv::Mat m_lastHanded;
    QString m_startError;
    bool m_stopRequested = false;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_doneWake;
    // The one picture waiting for the encoder and the frames it stands for.
    cv::Mat m_picture;
    qint64 m_pictureFrames = 0;
    // Frames to fill with the last encoded picture, after the one being encoded.
    qint64 m_lastFrames = 0;
    bool m_encoderBusy = false;
    bool m_stopping = false;
    bool m_done = false;
    std::thread m_worker;

    // Recorder's thread (and start(), before it runs); read by others only once done.
    std::unique_ptr<MjpegAviWriter> m_writer;
    std::vector<uchar> m_lastJpeg;
    QString m_partTemporary;
    int m_partIndex = 0;
    int m_nextIndex = 1;
    QStringList m_completed;
    QString m_failure;
    std::vector<double> m_encodeMs;
    std::vector<double> m_encodeCpuMs;
};
