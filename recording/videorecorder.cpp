#include "recording/videorecorder.h"

#include "app/logging.h"
#include "engine/photonaming.h"
#include "sanitizers/tsanhandover.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <utility>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

const char *const kNameFormat = "yyyy_MM_dd_HH_mm_ss.zzz";
const char *const kSuffix = ".avi";
// A file is written as "<final stem>.part.avi" and renamed when complete.
const char *const kTemporarySuffix = ".part.avi";
// How many names to try before giving up on finding a free one.
constexpr int kNameAttempts = 1000;
// The encoder yields to the live preview when the processor is short: the
// time it loses is filled with repeated frames, the preview would stutter.
constexpr int kEncoderNiceness = 5;

bool diskFull(int error)
{
    return error == ENOSPC || error == EFBIG || error == EDQUOT;
}

// Makes a rename inside the directory survive a power cut.
void syncDirectory(const QString &directory)
{
    const int fd = ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    if (::fsync(fd) != 0)
        qCDebug(lcRecording) << "directory sync failed:" << std::strerror(errno);
    ::close(fd);
}

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

} // namespace

VideoRecorder::VideoRecorder(const QString &directory, const QDateTime &startTime, RecordingLimits limits,
                             QObject *parent)
    : QObject(parent), m_directory(directory), m_stem(startTime.toString(QLatin1String(kNameFormat))),
      m_limits(limits)
{
}

VideoRecorder::~VideoRecorder()
{
    finish();
}

QString VideoRecorder::firstFilePath() const
{
    return finalName(1);
}

QString VideoRecorder::finalName(int index) const
{
    // The first file carries the start time alone; later ones add "_<n>".
    const QString stem = index <= 1 ? m_stem : QStringLiteral("%1_%2").arg(m_stem).arg(index);
    return QStringLiteral("%1/%2%3").arg(m_directory, stem, QLatin1String(kSuffix));
}

QString VideoRecorder::temporaryName(int index) const
{
    QString name = finalName(index);
    name.chop(static_cast<int>(qstrlen(kSuffix)));
    return name + QLatin1String(kTemporarySuffix);
}

bool VideoRecorder::start(cv::Size frameSize)
{
    bool stopped = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        stopped = m_stopping;
    }
    if (m_worker.joinable() || stopped) {
        m_startError = tr("录像已经开始。");
        return false;
    }
    if (frameSize.width <= 0 || frameSize.height <= 0) {
        m_startError = tr("没有可录制的画面。");
        return false;
    }
    m_frameSize = frameSize;
    if (!QDir().mkpath(m_directory)) {
        m_startError = tr("无法创建工作目录：%1").arg(QDir::toNativeSeparators(m_directory));
        return false;
    }
    if (!openPart(&m_startError))
        return false;
    m_clock.start();
    m_worker = std::thread(&VideoRecorder::work, this);
    return true;
}

qint64 VideoRecorder::dueLocked() const
{
    if (!m_clock.isValid() || m_stopping)
        return 0;
    // Frame n covers [n / fps, (n + 1) / fps): by now frames 0 .. elapsed * fps are due.
    const qint64 due = static_cast<qint64>(static_cast<double>(m_clock.nsecsElapsed()) * kFramesPerSecond / 1e9) + 1;
    return std::max<qint64>(0, due - m_framesHanded);
}

int VideoRecorder::framesDue() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(dueLocked());
}

void VideoRecorder::addFrame(const cv::Mat &frame)
{
    CapturedFrame captured;
    captured.data = frame;
    captured.size = frame.size();
    addFrame(captured);
}

void VideoRecorder::addFrame(const CapturedFrame &frame)
{
    if (frame.empty())
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const qint64 due = dueLocked();
        if (m_done || due <= 0)
            return;
        m_framesHanded += due;
        // A capture loop never reads into data someone else holds, so the same data is the same picture.
        const bool samePicture = m_handedAny && frame.data.data == m_lastHanded.data && frame.data.u == m_lastHanded.u;
        if (m_writerBusy || samePicture) {
            // Frames after a picture still waiting are its own; otherwise they
            // repeat whatever the writer finishes last.
            if (!m_picture.empty())
                m_pictureFrames += due;
            else
                m_lastFrames += due;
            if (!samePicture)
                ++m_skipped;
        } else {
            // Frames owed from before this picture came repeat the one before it.
            const qint64 before = m_handedAny ? due - 1 : 0;
            m_lastFrames += before;
            m_picture = frame;
            m_pictureFrames = due - before;
            m_writerBusy = true;
            m_lastHanded = frame.data;
            m_handedAny = true;
        }
    }
    m_wake.notify_one();
}

void VideoRecorder::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping)
            return;
        // The files run up to this moment: what is owed repeats the last picture.
        if (m_handedAny) {
            const qint64 due = dueLocked();
            m_framesHanded += due;
            if (!m_picture.empty())
                m_pictureFrames += due;
            else
                m_lastFrames += due;
        }
        m_stopping = true;
        m_lastHanded.release();
    }
    m_wake.notify_one();
}

bool VideoRecorder::waitDone(int ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_doneWake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_done || !m_worker.joinable(); });
}

QStringList VideoRecorder::finish()
{
    stop();
    if (m_worker.joinable())
        m_worker.join();
    return completedFiles();
}

QStringList VideoRecorder::completedFiles() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_completed;
}

QString VideoRecorder::failure() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_failure;
}

std::vector<double> VideoRecorder::encodeTimesMs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_encodeMs;
}

std::vector<double> VideoRecorder::encodeCpuTimesMs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_encodeCpuMs;
}

void VideoRecorder::work()
{
    // Linux takes a thread id here and changes that thread alone.
    const auto self = static_cast<id_t>(::gettid());
    errno = 0;
    const int niceness = ::getpriority(PRIO_PROCESS, self);
    if (errno == 0 && ::setpriority(PRIO_PROCESS, self, niceness + kEncoderNiceness) != 0)
        qCDebug(lcRecording) << "encoder priority unchanged:" << std::strerror(errno);
    for (;;) {
        CapturedFrame picture;
        qint64 pictureFrames = 0;
        qint64 lastFrames = 0;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_picture.empty() || m_lastFrames > 0; });
            lastFrames = std::exchange(m_lastFrames, 0);
            picture = std::exchange(m_picture, CapturedFrame());
            pictureFrames = std::exchange(m_pictureFrames, 0);
            if (picture.empty() && lastFrames == 0)
                break; // stopping, and everything handed over is written
        }
        if (!writeRepeats(lastFrames))
            break;
        if (picture.empty())
            continue;
        // Frames that come due meanwhile repeat this picture, on the next pass.
        const bool written = prepare(picture) && writePicture() && writeRepeats(pictureFrames - 1);
        picture = CapturedFrame();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_writerBusy = false;
        }
        if (!written)
            break;
    }

    const QString partTemporary = m_partTemporary;
    const bool lastWhole = completePart();
    QString failure = m_failure;
    if (!failure.isEmpty()) {
        QStringList kept;
        for (const QString &file : std::as_const(m_completed))
            kept << QDir::toNativeSeparators(file);
        failure += kept.isEmpty() ? tr("\n没有保存下录像。") : tr("\n已保存的录像：\n%1").arg(kept.join('\n'));
        if (!lastWhole && QFileInfo::exists(partTemporary))
            failure += tr("\n未完成的录像保留为 %1").arg(QDir::toNativeSeparators(partTemporary));
        qCDebug(lcRecording) << failure;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_failure = failure;
        m_done = true;
        m_picture = CapturedFrame();
        m_lastHanded.release();
    }
    m_doneWake.notify_all();
    tsanhandover::CrossThreadEmit handOver;
    emit finishedSignal();
}

// Makes the picture's JPEG bytes the last picture: the camera's own when
// they are of the recording's size, else the picture encoded.
bool VideoRecorder::prepare(const CapturedFrame &frame)
{
    if (frame.jpeg && frame.size == m_frameSize) {
        m_lastJpeg = frame.data;
        return true;
    }
    QElapsedTimer clock;
    clock.start();
    const double cpuStart = threadCpuMs();
    std::vector<uchar> encoded;
    try {
        cv::Mat picture = frame.decoded();
        if (picture.type() == CV_8UC1)
            cv::cvtColor(picture, picture, cv::COLOR_GRAY2BGR);
        else if (picture.type() == CV_8UC4)
            cv::cvtColor(picture, picture, cv::COLOR_BGRA2BGR);
        // A file holds one size only; a camera reopened at another size is scaled to it.
        if (!picture.empty() && picture.size() != m_frameSize) {
            const bool shrinks = picture.cols > m_frameSize.width || picture.rows > m_frameSize.height;
            cv::resize(picture, picture, m_frameSize, 0, 0, shrinks ? cv::INTER_AREA : cv::INTER_LINEAR);
        }
        if (picture.type() != CV_8UC3
            || !cv::imencode(".jpg", picture, encoded, {cv::IMWRITE_JPEG_QUALITY, kJpegQuality})) {
            m_failure = tr("录像画面的格式无法写入，录像已停止。");
            return false;
        }
    } catch (const cv::Exception &e) {
        m_failure = tr("录像画面无法编码，录像已停止：%1").arg(QString::fromLocal8Bit(e.what()));
        return false;
    }
    m_lastJpeg = cv::Mat();
    m_encoded.swap(encoded);
    m_lastJpeg = cv::Mat(1, static_cast<int>(m_encoded.size()), CV_8UC1, m_encoded.data());
    const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    const double cpuMs = threadCpuMs() - cpuStart;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_encodeMs.push_back(ms);
    m_encodeCpuMs.push_back(cpuMs);
    return true;
}

bool VideoRecorder::startFrame(qint64 bytes)
{
    if (partFull()) {
        QString error;
        if (!completePart() || !openPart(&error)) {
            if (m_failure.isEmpty())
                m_failure = error;
            return false;
        }
    }
    if (!m_writer->hasRoomFor(bytes)) {
        // Stop while the closing index still fits, so this file ends whole.
        m_failure = tr("磁盘空间不足，录像已停止。");
        return false;
    }
    return true;
}

bool VideoRecorder::writeFailed()
{
    const int error = m_writer->errorNumber();
    m_failure = diskFull(error) ? tr("磁盘空间不足，录像已停止。\n%1").arg(m_writer->errorString())
                                : tr("录像写入失败，录像已停止。\n%1").arg(m_writer->errorString());
    return false;
}

bool VideoRecorder::writePicture()
{
    const auto bytes = static_cast<qint64>(m_lastJpeg.total());
    if (!startFrame(bytes))
        return false;
    QElapsedTimer clock;
    clock.start();
    if (!m_writer->writeFrame(m_lastJpeg.ptr(), m_lastJpeg.total()))
        return writeFailed();
    ++m_writtenPictures;
    if (clock.elapsed() > kSlowestPictureMs) {
        // The picture is in the file, which ends whole; waiting on would only
        // leave the user at a window that does not answer.
        m_failure = tr("磁盘写入太慢，跟不上录像，录像已停止。请录制到更快的磁盘。");
        return false;
    }
    return true;
}

bool VideoRecorder::writeRepeats(qint64 count)
{
    for (qint64 i = 0; i < count && !m_lastJpeg.empty(); ++i) {
        if (!startFrame(0))
            return false;
        // A new file starts with the picture itself: an empty chunk there would repeat nothing.
        if (m_writer->frames() == 0) {
            if (!writePicture())
                return false;
        } else if (!m_writer->writeRepeat()) {
            return writeFailed();
        }
    }
    return true;
}

bool VideoRecorder::partFull() const
{
    if (m_writer->frames() == 0)
        return false;
    const double partMs = static_cast<double>(m_writer->frames()) * 1000.0 / kFramesPerSecond;
    return partMs >= static_cast<double>(m_limits.maxPartMs) || m_writer->bytes() >= m_limits.maxPartBytes;
}

bool VideoRecorder::openPart(QString *error)
{
    int index = m_nextIndex;
    // Never write over a file that is already there, finished or not.
    while (QFileInfo::exists(finalName(index)) || QFileInfo::exists(temporaryName(index))) {
        if (++index >= m_nextIndex + kNameAttempts) {
            *error = tr("无法创建录像文件：%1").arg(QDir::toNativeSeparators(finalName(m_nextIndex)));
            return false;
        }
    }
    const QString temporary = temporaryName(index);
    auto writer = std::make_unique<MjpegAviWriter>();
    writer->setWriteObserver(m_observer);
    if (!writer->open(temporary, m_frameSize, kFramesPerSecond)) {
        *error = tr("无法创建录像文件 %1\n%2").arg(QDir::toNativeSeparators(finalName(index)), writer->errorString());
        writer.reset();
        QFile::remove(temporary);
        return false;
    }
    m_writer = std::move(writer);
    m_partTemporary = temporary;
    m_partIndex = index;
    m_nextIndex = index + 1;
    return true;
}

// Ends the file being written and gives it its final name. A file whose
// closing failed is cut after its last whole frame and kept as well.
bool VideoRecorder::completePart()
{
    if (!m_writer)
        return true;
    std::unique_ptr<MjpegAviWriter> writer = std::move(m_writer);
    bool whole = writer->finish();
    if (!whole) {
        if (m_failure.isEmpty()) {
            m_failure = diskFull(writer->errorNumber())
                            ? tr("磁盘空间不足，录像已停止。\n%1").arg(writer->errorString())
                            : tr("录像写入失败，录像已停止。\n%1").arg(writer->errorString());
        }
        whole = writer->salvage();
    }
    const qint64 frames = writer->frames();
    writer.reset();
    if (!whole)
        return false;
    // A file that lost its only frame to a failure holds nothing worth keeping.
    if (frames == 0 && !m_failure.isEmpty()) {
        QFile::remove(m_partTemporary);
        return true;
    }
    // A name taken meanwhile (by another recording, or a link where a file
    // is missing) is skipped for the next one; nothing is ever replaced.
    for (int index = m_partIndex; index < m_partIndex + kNameAttempts; ++index) {
        const QString target = finalName(index);
        if (QFileInfo::exists(target))
            continue;
        const int error = claimName(m_partTemporary, target);
        if (error == EEXIST)
            continue;
        if (error != 0) {
            if (m_failure.isEmpty())
                m_failure = tr("录像文件无法改名，录像已停止。\n%1").arg(QString::fromLocal8Bit(std::strerror(error)));
            return false;
        }
        syncDirectory(m_directory);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_completed << target;
        m_nextIndex = std::max(m_nextIndex, index + 1);
        return true;
    }
    if (m_failure.isEmpty())
        m_failure = tr("录像文件无法改名，录像已停止。");
    return false;
}
