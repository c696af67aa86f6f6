#include "views/videorecorder.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

namespace {

const char *const kNameFormat = "yyyy_MM_dd_HH_mm_ss.zzz";
const char *const kSuffix = ".avi";
// A file is written as "<final stem>.part.avi" and renamed when complete.
const char *const kTemporarySuffix = ".part.avi";
// How many names to try before giving up on finding a free one.
constexpr int kNameAttempts = 1000;

int fourccMjpg()
{
    return cv::VideoWriter::fourcc('M', 'J', 'P', 'G');
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
    if (m_worker.joinable() || m_finished) {
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

int VideoRecorder::framesDue() const
{
    if (!m_clock.isValid() || m_finished)
        return 0;
    // Frame n covers [n / fps, (n + 1) / fps): by now frames 0 .. elapsed * fps are due.
    const qint64 due = static_cast<qint64>(static_cast<double>(m_clock.nsecsElapsed()) * kFramesPerSecond / 1e9) + 1;
    return static_cast<int>(std::max<qint64>(0, due - m_framesHanded));
}

void VideoRecorder::addFrame(const cv::Mat &frame)
{
    const int due = framesDue();
    if (due <= 0 || frame.empty())
        return;
    m_framesHanded += due;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (static_cast<int>(m_queue.size()) >= kQueueCapacity) {
            // The encoder is behind: keep the time, drop the picture.
            m_queue.back().repeats += due;
            ++m_dropped;
            return;
        }
        m_queue.push_back({frame, due});
    }
    m_wake.notify_one();
}

QStringList VideoRecorder::finish()
{
    if (m_worker.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_one();
        m_worker.join();
    }
    m_finished = true;
    return m_completed;
}

void VideoRecorder::work()
{
    for (;;) {
        Pending next;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_queue.empty())
                break;
            next = std::move(m_queue.front());
            m_queue.pop_front();
        }
        writeRepeated(next.frame, next.repeats);
    }
    if (m_writer) {
        QString error;
        if (!closePart(&error))
            fail(error);
    }
}

void VideoRecorder::writeRepeated(const cv::Mat &frame, qint64 repeats)
{
    if (m_broken)
        return;
    cv::Mat picture = frame;
    try {
        if (picture.type() == CV_8UC1)
            cv::cvtColor(picture, picture, cv::COLOR_GRAY2BGR);
        else if (picture.type() == CV_8UC4)
            cv::cvtColor(picture, picture, cv::COLOR_BGRA2BGR);
        // The writer takes one size only; a camera reopened at another size is scaled to it.
        if (picture.size() != m_frameSize) {
            const bool shrinks = picture.cols > m_frameSize.width || picture.rows > m_frameSize.height;
            cv::resize(picture, picture, m_frameSize, 0, 0, shrinks ? cv::INTER_AREA : cv::INTER_LINEAR);
        }
    } catch (const cv::Exception &e) {
        fail(tr("录像画面无法转换：%1").arg(QString::fromLocal8Bit(e.what())));
        return;
    }
    if (picture.type() != CV_8UC3) {
        fail(tr("录像画面的格式无法写入。"));
        return;
    }
    for (qint64 i = 0; i < repeats; ++i) {
        if (partFull()) {
            QString error;
            if (!closePart(&error) || !openPart(&error)) {
                fail(error);
                return;
            }
        }
        try {
            m_writer->write(picture);
        } catch (const cv::Exception &e) {
            fail(tr("录像写入失败：%1").arg(QString::fromLocal8Bit(e.what())));
            return;
        }
        ++m_partFrames;
    }
}

bool VideoRecorder::partFull() const
{
    if (m_partFrames == 0)
        return false;
    const double partMs = static_cast<double>(m_partFrames) * 1000.0 / kFramesPerSecond;
    if (partMs >= static_cast<double>(m_limits.maxPartMs))
        return true;
    return QFileInfo(m_partTemporary).size() >= m_limits.maxPartBytes;
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
    auto writer = std::make_unique<cv::VideoWriter>();
    try {
        writer->open(QFile::encodeName(temporary).toStdString(), cv::CAP_OPENCV_MJPEG, fourccMjpg(), kFramesPerSecond,
                     m_frameSize, true);
    } catch (const cv::Exception &e) {
        qDebug() << "video writer:" << e.what();
    }
    if (!writer->isOpened()) {
        writer.reset();
        QFile::remove(temporary);
        *error = tr("无法创建录像文件：%1").arg(QDir::toNativeSeparators(finalName(index)));
        return false;
    }
    m_writer = std::move(writer);
    m_partTemporary = temporary;
    m_partIndex = index;
    m_nextIndex = index + 1;
    m_partFrames = 0;
    return true;
}

bool VideoRecorder::closePart(QString *error)
{
    m_writer->release();
    m_writer.reset();
    if (QFileInfo(m_partTemporary).size() <= 0) {
        QFile::remove(m_partTemporary);
        *error = tr("录像文件没有写成：%1").arg(QDir::toNativeSeparators(finalName(m_partIndex)));
        return false;
    }
    // QFile::rename refuses an existing target, so a name taken meanwhile is skipped.
    for (int index = m_partIndex; index < m_partIndex + kNameAttempts; ++index) {
        const QString target = finalName(index);
        if (QFileInfo::exists(target))
            continue;
        if (QFile::rename(m_partTemporary, target)) {
            m_completed << target;
            m_nextIndex = std::max(m_nextIndex, index + 1);
            return true;
        }
        break;
    }
    *error = tr("录像文件无法改名，保留为 %1").arg(QDir::toNativeSeparators(m_partTemporary));
    return false;
}

void VideoRecorder::fail(const QString &message)
{
    qDebug() << "recording:" << message;
    m_broken = true;
    if (m_writer) {
        // What was written stays under its temporary name: it may be incomplete.
        m_writer->release();
        m_writer.reset();
        emit failed(tr("%1\n未完成的录像保留为 %2").arg(message, QDir::toNativeSeparators(m_partTemporary)));
        return;
    }
    emit failed(message);
}
