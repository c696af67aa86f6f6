#include "recording/mjpegaviwriter.h"

#include <QCoreApplication>
#include <QFile>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// The muxer's own buffer between flushes; frames are flushed one by one anyway.
constexpr int kIoBufferBytes = 1 << 20;
// Room kept for the closing index: libavformat writes an idx1 entry (16
// bytes) and an OpenDML standard index entry (8 bytes) per frame, plus headers.
constexpr qint64 kIndexBytesPerFrame = 32;
constexpr qint64 kIndexSlackBytes = 256 * 1024;
// Each frame is a chunk: four-byte tag, four-byte size, data padded to even length.
constexpr qint64 kChunkOverhead = 9;

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString tr(const char *text)
{
    return QCoreApplication::translate("MjpegAviWriter", text);
}

} // namespace

MjpegAviWriter::~MjpegAviWriter()
{
    releaseMuxer();
    if (m_fd >= 0)
        ::close(m_fd);
}

bool MjpegAviWriter::failWith(int error, const QString &what)
{
    if (!m_failed) {
        m_failed = true;
        m_errno = error;
        m_error = error ? QStringLiteral("%1：%2").arg(what, systemError(error)) : what;
    }
    return false;
}

int MjpegAviWriter::writeCallback(void *opaque, uint8_t *buffer, int size)
{
    auto *self = static_cast<MjpegAviWriter *>(opaque);
    if (self->m_failed)
        return AVERROR(self->m_errno ? self->m_errno : EIO);
    if (self->m_observer)
        self->m_observer(size);
    const uint8_t *data = buffer;
    qint64 left = size;
    while (left > 0) {
        const ssize_t written = ::pwrite(self->m_fd, data, static_cast<size_t>(left), self->m_position);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            // A short write that makes no progress means the disk is full.
            const int error = written < 0 ? errno : ENOSPC;
            self->failWith(error, tr("录像文件写入失败"));
            return AVERROR(error);
        }
        data += written;
        left -= written;
        self->m_position += written;
    }
    self->m_end = std::max(self->m_end, self->m_position);
    return size;
}

int64_t MjpegAviWriter::seekCallback(void *opaque, int64_t offset, int whence)
{
    auto *self = static_cast<MjpegAviWriter *>(opaque);
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return self->m_end;
    case SEEK_SET:
        break;
    case SEEK_CUR:
        offset += self->m_position;
        break;
    case SEEK_END:
        offset += self->m_end;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (offset < 0)
        return AVERROR(EINVAL);
    self->m_position = offset;
    return offset;
}

bool MjpegAviWriter::open(const QString &path, cv::Size frameSize, double framesPerSecond)
{
    if (m_fd >= 0 || m_failed)
        return false;
    m_fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (m_fd < 0)
        return failWith(errno, tr("无法创建录像文件"));

    if (avformat_alloc_output_context2(&m_format, nullptr, "avi", nullptr) < 0 || !m_format)
        return failWith(0, tr("无法创建录像文件：缺少 AVI 格式支持"));
    auto *buffer = static_cast<unsigned char *>(av_malloc(kIoBufferBytes));
    m_io = buffer ? avio_alloc_context(buffer, kIoBufferBytes, 1, this, nullptr, &MjpegAviWriter::writeCallback,
                                       &MjpegAviWriter::seekCallback)
                  : nullptr;
    m_packet = av_packet_alloc();
    if (!m_io || !m_packet) {
        if (!m_io)
            av_free(buffer);
        return failWith(ENOMEM, tr("无法创建录像文件"));
    }
    // The muxer goes back to fill in sizes and counts when it closes the file.
    m_io->seekable = AVIO_SEEKABLE_NORMAL;
    m_format->pb = m_io;
    m_format->flags |= AVFMT_FLAG_CUSTOM_IO;

    AVStream *stream = avformat_new_stream(m_format, nullptr);
    if (!stream)
        return failWith(ENOMEM, tr("无法创建录像文件"));
    const AVRational rate = av_d2q(framesPerSecond, 1000);
    stream->time_base = av_inv_q(rate);
    stream->avg_frame_rate = rate;
    stream->r_frame_rate = rate;
    AVCodecParameters *codec = stream->codecpar;
    codec->codec_type = AVMEDIA_TYPE_VIDEO;
    codec->codec_id = AV_CODEC_ID_MJPEG;
    codec->codec_tag = MKTAG('M', 'J', 'P', 'G');
    codec->width = frameSize.width;
    codec->height = frameSize.height;
    codec->bits_per_coded_sample = 24;

    const int result = avformat_write_header(m_format, nullptr);
    if (result >= 0)
        avio_flush(m_io);
    if (result < 0 || m_io->error < 0 || m_failed)
        return failWith(m_errno ? m_errno : EIO, tr("无法写入录像文件"));
    m_wholeEnd = m_position;
    return true;
}

bool MjpegAviWriter::writeFrame(const uchar *jpeg, size_t size)
{
    if (size == 0 || size > static_cast<size_t>(INT_MAX))
        return failWith(EINVAL, tr("录像画面无法写入"));
    return writePacket(jpeg, size);
}

bool MjpegAviWriter::writeRepeat()
{
    if (m_frames == 0)
        return failWith(EINVAL, tr("录像画面无法写入"));
    return writePacket(nullptr, 0);
}

bool MjpegAviWriter::writePacket(const uchar *data, size_t size)
{
    if (!m_format || m_failed)
        return false;
    // The muxer does not take the packet over: it points at the caller's bytes.
    m_packet->data = const_cast<uint8_t *>(data);
    m_packet->size = static_cast<int>(size);
    m_packet->stream_index = 0;
    m_packet->pts = m_frames;
    m_packet->dts = m_frames;
    m_packet->duration = 1;
    m_packet->flags = AV_PKT_FLAG_KEY;
    int result = av_write_frame(m_format, m_packet);
    m_packet->data = nullptr;
    m_packet->size = 0;
    if (result >= 0)
        avio_flush(m_io);
    if (result < 0 || m_io->error < 0 || m_failed)
        return failWith(m_errno ? m_errno : EIO, tr("录像文件写入失败"));
    ++m_frames;
    m_wholeEnd = m_position;
    return syncAsWeGo();
}

bool MjpegAviWriter::syncAsWeGo()
{
    if (m_end - m_syncedUpTo < kSyncBytes)
        return true;
    // A file removed while it is written would be lost at the end: stop now.
    struct stat info {};
    if (::fstat(m_fd, &info) == 0 && info.st_nlink == 0)
        return failWith(ENOENT, tr("录像文件已被删除"));
    // Wait for the range started last time, then start this one: writing
    // goes on while the disk catches up, and never more than two ranges are dirty.
    const int flags = SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
    // (A length of 0 would mean "to the end of the file".)
    if ((m_syncedUpTo > 0 && ::sync_file_range(m_fd, 0, m_syncedUpTo, flags) != 0)
        || ::sync_file_range(m_fd, m_syncedUpTo, m_end - m_syncedUpTo, SYNC_FILE_RANGE_WRITE) != 0) {
        // File systems without range syncs take a full one.
        if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != ESPIPE)
            return failWith(errno, tr("录像文件写入失败"));
        if (::fdatasync(m_fd) != 0)
            return failWith(errno, tr("录像文件写入失败"));
    }
    m_syncedUpTo = m_end;
    return true;
}

bool MjpegAviWriter::hasRoomFor(qint64 frameBytes) const
{
    struct statvfs disk {};
    if (m_fd < 0 || ::fstatvfs(m_fd, &disk) != 0)
        return true; // the write itself will tell
    const qint64 available = static_cast<qint64>(disk.f_bavail) * static_cast<qint64>(disk.f_frsize);
    const qint64 needed = frameBytes + kChunkOverhead + (m_frames + 1) * kIndexBytesPerFrame + kIndexSlackBytes;
    return available >= needed;
}

bool MjpegAviWriter::finish()
{
    if (!m_format || m_failed)
        return false;
    const int result = av_write_trailer(m_format);
    if (result >= 0)
        avio_flush(m_io);
    if (result < 0 || m_io->error < 0 || m_failed)
        return failWith(m_errno ? m_errno : EIO, tr("录像文件无法完成"));
    releaseMuxer();
    if (::fsync(m_fd) != 0)
        return failWith(errno, tr("录像文件无法写入磁盘"));
    return closeFile();
}

bool MjpegAviWriter::salvage()
{
    if (m_fd < 0)
        return false;
    releaseMuxer();
    // The first failure stays the one reported; this only says whether the file is whole.
    const int fd = m_fd;
    m_fd = -1;
    bool whole = ::ftruncate(fd, m_wholeEnd) == 0 && ::fsync(fd) == 0;
    if (::close(fd) != 0 && errno != EINTR)
        whole = false;
    if (whole)
        m_end = m_position = m_wholeEnd;
    return whole;
}

bool MjpegAviWriter::closeFile()
{
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 && errno != EINTR)
        return failWith(errno, tr("录像文件无法关闭"));
    return true;
}

void MjpegAviWriter::releaseMuxer()
{
    if (m_format) {
        avformat_free_context(m_format);
        m_format = nullptr;
    }
    if (m_io) {
        av_freep(&m_io->buffer);
        avio_context_free(&m_io);
    }
    av_packet_free(&m_packet);
}
