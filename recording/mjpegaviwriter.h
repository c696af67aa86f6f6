#pragma once

#include <QString>

#include <opencv2/core.hpp>

#include <functional>
#include <vector>

struct AVFormatContext;
struct AVIOContext;
struct AVPacket;

// One Motion-JPEG AVI file written by libavformat's AVI muxer through a file
// descriptor of its own, so that every write, the closing index and the close
// are checked, and the end of the last whole frame is always known. Each
// frame is flushed to the file as it is written: a process killed mid-way
// leaves a file that plays up to its last frame.
class MjpegAviWriter {
public:
    // Dirty data is pushed to the disk every this many bytes, and the range
    // before waited for: a slow disk holds up the writing, not the end of the
    // file, whose last sync has at most two ranges to wait for.
    static constexpr qint64 kSyncBytes = qint64(2) << 20;
    // Told the size of every write before it reaches the file; tests stand
    // in a slow disk with it.
    using WriteObserver = std::function<void(qint64 bytes)>;

    MjpegAviWriter() = default;
    // A file still open is closed as it stands.
    ~MjpegAviWriter();
    MjpegAviWriter(const MjpegAviWriter &) = delete;
    MjpegAviWriter &operator=(const MjpegAviWriter &) = delete;

    // Creates `path`, which must not exist yet, and writes the header.
    bool open(const QString &path, cv::Size frameSize, double framesPerSecond);
    // Appends one frame of these JPEG bytes.
    bool writeFrame(const uchar *jpeg, size_t size);
    bool writeFrame(const std::vector<uchar> &jpeg) { return writeFrame(jpeg.data(), jpeg.size()); }
    // Appends a frame that repeats the one before as an empty chunk, which
    // players show as the previous picture again. Not as a file's first frame.
    bool writeRepeat();
    void setWriteObserver(WriteObserver observer) { m_observer = std::move(observer); }
    // Whether the file system has room for one more frame of this size and the closing index.
    bool hasRoomFor(qint64 frameBytes) const;
    // Writes the closing index, syncs and closes.
    bool finish();
    // After a failure: cuts the file after its last whole frame, syncs and
    // closes it. It then plays without its closing index.
    bool salvage();

    bool isOpen() const { return m_fd >= 0; }
    qint64 frames() const { return m_frames; }
    qint64 bytes() const { return m_end; }
    // The last failure, for the user; errorNumber() is its errno, 0 if none.
    QString errorString() const { return m_error; }
    int errorNumber() const { return m_errno; }

private:
    static int writeCallback(void *opaque, uint8_t *buffer, int size);
    static int64_t seekCallback(void *opaque, int64_t offset, int whence);
    bool syncAsWeGo();
    bool closeFile();
    bool failWith(int error, const QString &what);
    bool writePacket(const uchar *data, size_t size);
    void releaseMuxer();

    int m_fd = -1;
    AVFormatContext *m_format = nullptr;
    AVIOContext *m_io = nullptr;
    AVPacket *m_packet = nullptr;
    bool m_failed = false;
    qint64 m_position = 0;
    qint64 m_end = 0;
    // End of the header or of the last frame that reached the file whole.
    qint64 m_wholeEnd = 0;
    qint64 m_syncedUpTo = 0;
    qint64 m_frames = 0;
    QString m_error;
    int m_errno = 0;
    WriteObserver m_observer;
};
