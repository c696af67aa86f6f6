#pragma once

#include "engine/framesink.h"
#include "recording/mjpegaviwriter.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <opencv2/core.hpp>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// When a recording continues in a new file: a crash loses only the file being
// written, and files stay a size every player and file system takes.
struct RecordingLimits {
    static constexpr qint64 kDefaultMaxPartBytes = qint64(2) << 30;
    static constexpr qint64 kDefaultMaxPartMs = 5 * 60 * 1000;
    qint64 maxPartBytes = kDefaultMaxPartBytes;
    qint64 maxPartMs = kDefaultMaxPartMs;
};

// Writes one recording as Motion-JPEG AVI files on a thread of its own. A
// capture loop (or any one caller) hands over frames, sharing their data; the
// number of frames in the files follows the wall clock at a fixed declared
// rate. A camera's own JPEG bytes are written as they are; pixels are encoded
// once per distinct picture. A repeated picture, or the time that passes
// while the writer is busy, becomes empty chunks that players show as the
// picture before, so a slow disk costs pictures, not time: the work queued
// never exceeds one picture. A disk too slow to take a picture within
// kSlowestPictureMs ends the recording. Each file is written under a
// temporary name in the work directory and renamed once it is complete and on
// the disk. A failed write ends the recording; what was written is kept whole
// under its final name.
class VideoRecorder : public QObject, public FrameSink {
    Q_OBJECT

public:
    static constexpr double kFramesPerSecond = 10.0;
    // A camera's own noise outweighs the coding error from this quality on:
    // higher ones spend bytes (95 takes about 60% more) on the noise alone.
    static constexpr int kJpegQuality = 90;
    // Longest a single picture may take to reach the file, its share of the
    // syncing included, before the disk is judged too slow to record to.
    static constexpr int kSlowestPictureMs = 2000;

    VideoRecorder(const QString &directory, const QDateTime &startTime, RecordingLimits limits = {},
                  QObject *parent = nullptr);
    // Stops and waits for the last file to be complete.
    ~VideoRecorder() override;

    // Before start(): every write of the files is reported to it (a test's slow disk).
    void setWriteObserver(MjpegAviWriter::WriteObserver observer) { m_observer = std::move(observer); }
    // Opens the first file for frames of this size and starts the clock; on
    // false, errorString() says why and nothing has been left behind.
    bool start(cv::Size frameSize);
    QString errorString() const { return m_startError; }
    // The final name of the first file ("yyyy_MM_dd_HH_mm_ss.zzz.avi").
    QString firstFilePath() const;

    // Frames the files should have gained since the last hand-over, by the clock.
    int framesDue() const;
    // Hands over a picture (8-bit BGR) for the frames due now; nothing when none are due.
    void addFrame(const cv::Mat &frame);
    void addFrame(const CapturedFrame &frame);
    void frameCaptured(const CapturedFrame &frame) override { addFrame(frame); }
    // Lets the recorder's thread write the frames handed over, fill the files
    // up to now with the last picture and complete the last file; returns at
    // once. finishedSignal() follows.
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
    // clock and in processor time of the recorder's thread (0 for a camera's
    // own JPEG bytes, which need no encoding).
    std::vector<double> encodeTimesMs() const;
    std::vector<double> encodeCpuTimesMs() const;
    // Pictures passed over because the writer was still busy.
    int skippedPictures() const { return m_skipped.load(); }
    // Pictures written, the first of each file included.
    int writtenPictures() const { return m_writtenPictures.load(); }

signals:
    // From the recorder's thread once it is done, stopped or failed.
    void finishedSignal();

private:
    qint64 dueLocked() const;
    void work();
    bool prepare(const CapturedFrame &frame);
    bool writePicture();
    bool writeRepeats(qint64 count);
    bool startFrame(qint64 bytes);
    bool writeFailed();
    bool partFull() const;
    bool openPart(QString *error);
    bool completePart();
    QString finalName(int index) const;
    QString temporaryName(int index) const;

    QString m_directory;
    QString m_stem;
    RecordingLimits m_limits;
    cv::Size m_frameSize;
    MjpegAviWriter::WriteObserver m_observer;
    QString m_startError;
    QElapsedTimer m_clock;
    std::atomic<int> m_skipped{0};
    std::atomic<int> m_writtenPictures{0};

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_doneWake;
    // Frames the files have been given so far, by the clock.
    qint64 m_framesHanded = 0;
    cv::Mat m_lastHanded;
    bool m_handedAny = false;
    // The one picture waiting for the writer and the frames it stands for.
    CapturedFrame m_picture;
    qint64 m_pictureFrames = 0;
    // Frames to fill with the last written picture, before the waiting one.
    qint64 m_lastFrames = 0;
    bool m_writerBusy = false;
    bool m_stopping = false;
    bool m_done = false;
    std::thread m_worker;

    // Recorder's thread (and start(), before it runs); read by others only once done.
    std::unique_ptr<MjpegAviWriter> m_writer;
    // The last picture's JPEG bytes: the camera's own, or m_encoded.
    cv::Mat m_lastJpeg;
    std::vector<uchar> m_encoded;
    QString m_partTemporary;
    int m_partIndex = 0;
    int m_nextIndex = 1;
    QStringList m_completed;
    QString m_failure;
    std::vector<double> m_encodeMs;
    std::vector<double> m_encodeCpuMs;
};
