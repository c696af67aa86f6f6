#include "recording/partrepair.h"

#include "app/logging.h"
#include "engine/photonaming.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The recorder's part names: its time stamp, "_<n>" from the second file on.
const QRegularExpression
    kPartName(QStringLiteral(R"(^(\d{4}_\d{2}_\d{2}_\d{2}_\d{2}_\d{2}\.\d{3})(?:_(\d+))?\.part\.avi$)"));
// As many names as the recorder tries before it gives up.
constexpr int kNameAttempts = 1000;
// libavformat's errors from the system are negated errno values, its own are tags far below.
constexpr int kLargestErrno = 4096;

// The repair's texts for the user, translated in one context.
class RepairTexts {
    Q_DECLARE_TR_FUNCTIONS(RepairTexts)
};

QString avError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromLocal8Bit(text);
}

// libavformat takes a path with a colon for a protocol name unless told.
QByteArray avPath(const QString &path)
{
    return "file:" + QFile::encodeName(path);
}

struct InputFile {
    AVFormatContext *context = nullptr;
    ~InputFile() { avformat_close_input(&context); }
};

struct OutputFile {
    AVFormatContext *context = nullptr;
    ~OutputFile()
    {
        if (!context)
            return;
        if (context->pb)
            avio_closep(&context->pb);
        avformat_free_context(context);
    }
};

struct Packets {
    AVPacket *read = av_packet_alloc();
    AVPacket *held = av_packet_alloc();
    ~Packets()
    {
        av_packet_free(&read);
        av_packet_free(&held);
    }
};

// A Motion-JPEG frame is whole when it ends with the end-of-image marker
// (chunk padding aside). Only the last frame of a part can have been cut.
bool wholeLastFrame(const AVPacket *packet, AVCodecID codec)
{
    if (packet->flags & AV_PKT_FLAG_CORRUPT)
        return false;
    if (codec != AV_CODEC_ID_MJPEG || packet->size == 0)
        return true;
    int end = packet->size;
    while (end > 2 && packet->data[end - 1] == 0)
        --end;
    return end >= 2 && packet->data[end - 2] == 0xFF && packet->data[end - 1] == 0xD9;
}

// A repeated picture is an empty chunk, which the demuxer passes over without
// a trace when no picture follows: those at the end are counted in the file.
qint64 emptyChunksFrom(const QString &path, int64_t position, int stream)
{
    QFile file(path);
    if (position < 0 || !file.open(QIODevice::ReadOnly) || !file.seek(position))
        return 0;
    const QByteArray empty = QByteArray::number(stream).rightJustified(2, '0') + "dc" + QByteArray(4, '\0');
    qint64 count = 0;
    while (file.read(empty.size()) == empty)
        ++count;
    return count;
}

// Copies the video frames of `from` into the new file `to`; returns an error
// for the user, or an empty string with the number of frames copied.
QString copyFrames(const QString &from, const QString &to, const std::atomic<bool> &cancel, qint64 &frames)
{
    frames = 0;
    InputFile in;
    int result = avformat_open_input(&in.context, avPath(from).constData(), av_find_input_format("avi"), nullptr);
    if (result < 0)
        return RepairTexts::tr("无法读取：%1").arg(avError(result));
    int video = -1;
    for (unsigned i = 0; i < in.context->nb_streams && video < 0; ++i) {
        if (in.context->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            video = static_cast<int>(i);
    }
    if (video < 0)
        return RepairTexts::tr("文件中没有视频");
    const AVStream *source = in.context->streams[video];

    OutputFile out;
    if (avformat_alloc_output_context2(&out.context, nullptr, "avi", nullptr) < 0 || !out.context)
        return RepairTexts::tr("缺少 AVI 格式支持");
    AVStream *target = avformat_new_stream(out.context, nullptr);
    if (!target || avcodec_parameters_copy(target->codecpar, source->codecpar) < 0)
        return RepairTexts::tr("内存不足");
    target->time_base = source->time_base;
    target->avg_frame_rate = source->avg_frame_rate;
    target->r_frame_rate = source->r_frame_rate;
    result = avio_open(&out.context->pb, avPath(to).constData(), AVIO_FLAG_WRITE);
    if (result >= 0)
        result = avformat_write_header(out.context, nullptr);
    if (result < 0)
        return RepairTexts::tr("无法写入：%1").arg(avError(result));

    // Each frame is written once the next one has been read: only then is it
    // known to be whole. The last one is checked on its own.
    Packets packets;
    if (!packets.read || !packets.held)
        return RepairTexts::tr("内存不足");
    bool holding = false;
    int64_t nextDts = 0;
    const auto writeHeld = [&]() {
        AVPacket *packet = packets.held;
        // Frames are counted in the file's own time base; a gap stays a gap.
        if (packet->dts == AV_NOPTS_VALUE || packet->dts < nextDts)
            packet->dts = nextDts;
        packet->pts = packet->dts;
        nextDts = packet->dts + 1;
        packet->stream_index = 0;
        packet->pos = -1;
        av_packet_rescale_ts(packet, source->time_base, target->time_base);
        const int written = av_write_frame(out.context, packet);
        av_packet_unref(packet);
        holding = false;
        if (written < 0)
            return written;
        ++frames;
        return 0;
    };
    // The end of the data, or data the demuxer cannot make sense of, is where
    // the crash cut the file; a failing disk is another matter: the part stays.
    while ((result = av_read_frame(in.context, packets.read)) >= 0) {
        if (cancel.load())
            return RepairTexts::tr("已取消");
        if (packets.read->stream_index != video) {
            av_packet_unref(packets.read);
            continue;
        }
        if (holding && (result = writeHeld()) < 0)
            return RepairTexts::tr("无法写入：%1").arg(avError(result));
        av_packet_move_ref(packets.held, packets.read);
        holding = true;
    }
    if (result != AVERROR_EOF && result > -kLargestErrno)
        return RepairTexts::tr("无法读取：%1").arg(avError(result));
    if (holding && !wholeLastFrame(packets.held, source->codecpar->codec_id)) {
        av_packet_unref(packets.held);
    } else if (holding) {
        const AVPacket *last = packets.held;
        const int64_t end = last->pos < 0 ? -1 : last->pos + last->size + (last->size & 1);
        if ((result = writeHeld()) < 0)
            return RepairTexts::tr("无法写入：%1").arg(avError(result));
        // The picture repeated until the end: one empty frame at the end, the gap filled by the muxer.
        if (const qint64 repeats = emptyChunksFrom(from, end, video)) {
            packets.held->dts = nextDts - 1 + repeats;
            if ((result = writeHeld()) < 0)
                return RepairTexts::tr("无法写入：%1").arg(avError(result));
        }
    }
    if (frames == 0)
        return RepairTexts::tr("文件中没有完整的画面");
    result = av_write_trailer(out.context);
    if (result >= 0 && out.context->pb->error < 0)
        result = out.context->pb->error;
    const int closed = avio_closep(&out.context->pb);
    if (result < 0 || closed < 0)
        return RepairTexts::tr("无法写入：%1").arg(avError(result < 0 ? result : closed));
    return {};
}

void syncDirectory(const QString &directory)
{
    const int fd = ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

bool isRecordingPartName(const QString &fileName)
{
    return kPartName.match(fileName).hasMatch();
}

PartRepair repairRecordingPart(const QString &partPath, const std::atomic<bool> &cancel)
{
    PartRepair outcome;
    const QFileInfo part(partPath);
    const QRegularExpressionMatch name = kPartName.match(part.fileName());
    if (!name.hasMatch()) {
        outcome.error = RepairTexts::tr("不是录像文件");
        return outcome;
    }
    // Held while repairing, so that two copies of the program started
    // together do not both repair the same part.
    const int lock = ::open(QFile::encodeName(partPath).constData(), O_RDONLY | O_CLOEXEC);
    if (lock < 0) {
        outcome.error = RepairTexts::tr("无法读取：%1").arg(qt_error_string(errno));
        return outcome;
    }
    struct stat info {};
    if (::flock(lock, LOCK_EX | LOCK_NB) != 0 || ::fstat(lock, &info) != 0 || info.st_nlink == 0) {
        ::close(lock);
        return outcome;
    }

    const QString directory = part.absolutePath();
    QString error;
    const QString temporary = createTemporaryPath(directory, QString(), &error);
    qint64 frames = 0;
    if (!temporary.isEmpty()) {
        error = copyFrames(part.absoluteFilePath(), temporary, cancel, frames);
        if (!error.isEmpty())
            QFile::remove(temporary);
    }
    if (error.isEmpty()) {
        const QString stem = name.captured(1);
        const int first = name.captured(2).isEmpty() ? 1 : name.captured(2).toInt();
        const NameCandidates names = [&](int attempt) {
            if (attempt > kNameAttempts)
                return QString();
            const int index = first + attempt - 1;
            const QString file = index <= 1 ? stem : QStringLiteral("%1_%2").arg(stem).arg(index);
            return QStringLiteral("%1/%2.avi").arg(directory, file);
        };
        const SaveOutcome saved = moveAsNewFile(temporary, directory, names);
        error = saved.error;
        outcome.path = saved.path;
    }
    if (error.isEmpty()) {
        if (!QFile::remove(part.absoluteFilePath()))
            qCWarning(lcRecording) << "repaired part not removed:" << partPath;
        syncDirectory(directory);
        qCDebug(lcRecording) << "repaired" << partPath << "as" << outcome.path << frames << "frames";
    } else {
        outcome.error = error;
        qCDebug(lcRecording) << "cannot repair" << partPath << error;
    }
    ::close(lock);
    return outcome;
}
