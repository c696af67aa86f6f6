#include "engine/photonaming.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QRandomGenerator>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Enough for every photograph ever numbered in one folder; guards against an
// endless search when the candidates never come free.
constexpr int kMaxNameAttempts = 1000000;

QString systemError(int code)
{
    return qt_error_string(code);
}

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

QByteArray formatKey(const QString &format)
{
    return format.toLower().toLatin1();
}

bool qtCanWrite(const QByteArray &format)
{
    return QImageWriter::supportedImageFormats().contains(format);
}

bool openCvCanWrite(const QByteArray &format)
{
    if (format.isEmpty())
        return false;
    try {
        return cv::haveImageWriter(std::string(".") + format.constData());
    } catch (const cv::Exception &) {
        return false;
    }
}

// OpenCV's writer takes BGR (or grey, or BGRA) matrices.
cv::Mat toBgrMat(const QImage &picture)
{
    const bool grey = picture.format() == QImage::Format_Grayscale8
                      || (picture.format() == QImage::Format_Indexed8 && picture.isGrayscale());
    if (grey) {
        const QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);
        return cv::Mat(grey.height(), grey.width(), CV_8UC1, const_cast<uchar *>(grey.constBits()),
                       static_cast<size_t>(grey.bytesPerLine()))
            .clone();
    }
    if (picture.hasAlphaChannel()) {
        // ARGB32 lies in memory as B, G, R, A on little-endian machines.
        const QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
        cv::Mat bgra(argb.height(), argb.width(), CV_8UC4, const_cast<uchar *>(argb.constBits()),
                     static_cast<size_t>(argb.bytesPerLine()));
        return bgra.clone();
    }
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    const cv::Mat view(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar *>(rgb.constBits()),
                       static_cast<size_t>(rgb.bytesPerLine()));
    cv::Mat bgr;
    cv::cvtColor(view, bgr, cv::COLOR_RGB2BGR);
    return bgr;
}

QString pictureNoun(SavedPicture what)
{
    switch (what) {
    case SavedPicture::MergedImage:
        return QCoreApplication::translate("PhotoNaming", "合并图像");
    case SavedPicture::Document:
        return QCoreApplication::translate("PhotoNaming", "文档");
    case SavedPicture::Photograph:
        break;
    }
    return QCoreApplication::translate("PhotoNaming", "照片");
}

QString fileNoun()
{
    return QCoreApplication::translate("PhotoNaming", "文件");
}

// Encodes into memory, so that an encoder failure never touches the folder.
QString encodePicture(const QImage &picture, const QByteArray &format, int quality, QByteArray &bytes,
                      const QString &what)
{
    if (qtCanWrite(format)) {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, format);
        writer.setQuality(quality);
        if (!writer.write(picture))
            return QCoreApplication::translate("PhotoNaming", "无法编码%1：%2").arg(what, writer.errorString());
        return {};
    }
    try {
        std::vector<int> params;
        if (quality >= 0 && quality <= 100) {
            if (format == "jpg" || format == "jpeg")
                params = {cv::IMWRITE_JPEG_QUALITY, quality};
            else if (format == "webp")
                params = {cv::IMWRITE_WEBP_QUALITY, quality};
        }
        std::vector<uchar> encoded;
        if (!cv::imencode(std::string(".") + format.constData(), toBgrMat(picture), encoded, params))
            return QCoreApplication::translate("PhotoNaming", "无法编码%1（%2）")
                .arg(what, QString::fromLatin1(format));
        bytes = QByteArray(reinterpret_cast<const char *>(encoded.data()), static_cast<int>(encoded.size()));
        return {};
    } catch (const cv::Exception &e) {
        return QCoreApplication::translate("PhotoNaming", "无法编码%1：%2").arg(what, QString::fromStdString(e.what()));
    }
}

// Creates a new hidden file in the folder; its name is returned in `path`. A
// suffix, when given, ends the name, for writers that choose their format by it.
int createTemporaryFile(const QString &directory, QString &path, const QString &suffix = QString())
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = QStringLiteral("%1/.vorlant-%2.part")
                   .arg(directory)
                   .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
        if (!suffix.isEmpty())
            path += QLatin1Char('.') + suffix;
        const int fd = ::open(nativePath(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Returns 0 or an errno value.
int writeAndSync(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += n;
        left -= n;
    }
    if (::fsync(fd) != 0 && errno != EINVAL)
        return errno;
    return 0;
}

} // namespace

int claimName(const QString &tempPath, const QString &finalPath)
{
    const QByteArray from = nativePath(tempPath);
    const QByteArray to = nativePath(finalPath);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    const int error = errno;
    if (error != EINVAL && error != ENOSYS && error != ENOTSUP)
        return error;
    // File systems without the no-replace rename: reserve the name exclusively,
    // then move the finished file over the reservation.
    const int fd = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno;
    ::close(fd);
    if (::rename(from.constData(), to.constData()) == 0)
        return 0;
    const int renameError = errno;
    ::unlink(to.constData());
    return renameError;
}

namespace {

// Moves the finished temporary file to the first candidate name that is free;
// the temporary file is gone afterwards either way.
SaveOutcome claimFirstFreeName(const QString &tempPath, const QString &directory, const NameCandidates &names,
                               const QString &what)
{
    SaveOutcome outcome;
    for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
        const QString candidate = names(attempt);
        if (candidate.isEmpty())
            break;
        const int error = claimName(tempPath, candidate);
        if (error == 0) {
            outcome.path = candidate;
            return outcome;
        }
        if (error != EEXIST) {
            ::unlink(nativePath(tempPath).constData());
            outcome.error = QCoreApplication::translate("PhotoNaming", "无法保存%1“%2”：%3")
                                .arg(what, candidate, systemError(error));
            return outcome;
        }
    }
    ::unlink(nativePath(tempPath).constData());
    outcome.error =
        QCoreApplication::translate("PhotoNaming", "在“%1”中找不到可用的文件名，%2未保存").arg(directory, what);
    return outcome;
}

SaveOutcome saveBytes(const QByteArray &bytes, const QString &directory, const NameCandidates &names,
                      const QString &what)
{
    SaveOutcome outcome;
    QString tempPath;
    const int fd = createTemporaryFile(directory, tempPath);
    if (fd < 0) {
        outcome.error = QCoreApplication::translate("PhotoNaming", "无法在“%1”中写入%2：%3")
                            .arg(directory, what, systemError(errno));
        return outcome;
    }
    const int writeError = writeAndSync(fd, bytes);
    const int closeError = ::close(fd) == 0 ? 0 : errno;
    if (writeError != 0 || closeError != 0) {
        ::unlink(nativePath(tempPath).constData());
        outcome.error = QCoreApplication::translate("PhotoNaming", "无法在“%1”中写入%2：%3")
                            .arg(directory, what, systemError(writeError != 0 ? writeError : closeError));
        return outcome;
    }
    return claimFirstFreeName(tempPath, directory, names, what);
}

// The directory as the first part of a name: a trailing separator (as on
// "/") is dropped, since the naming pattern inserts one.
QString directoryPart(const QString &directory)
{
    return directory.endsWith(QLatin1Char('/')) ? directory.chopped(1) : directory;
}

} // namespace

QString photoSuffix(const QString &codec, bool saveAsTiff)
{
    return saveAsTiff ? QStringLiteral("tiff") : codec;
}

QString numberedPhotoName(const QString &directory, const QString &prefix, int number, const QString &suffix)
{
    return QStringLiteral("%1/%2_%3.%4").arg(directoryPart(directory), prefix, QString::number(number), suffix);
}

QString timedPhotoName(const QString &directory, const QDateTime &time, const QString &suffix, int copy)
{
    QString stamp = time.toString(QStringLiteral("yyyy_MM_dd HH_mm_ss.zzz"));
    if (copy > 1)
        stamp += QLatin1Char('_') + QString::number(copy);
    return QStringLiteral("%1/%2.%3").arg(directoryPart(directory), stamp, suffix);
}

bool canWriteImageFormat(const QString &format)
{
    const QByteArray key = formatKey(format);
    return qtCanWrite(key) || openCvCanWrite(key);
}

QString ensureDirectory(const QString &directory, SavedPicture what)
{
    const QFileInfo info(directory);
    if (info.isDir())
        return {};
    if (info.exists())
        return QCoreApplication::translate("PhotoNaming", "工作目录“%1”不是文件夹，%2未保存")
            .arg(directory, pictureNoun(what));
    if (!QDir().mkpath(directory))
        return QCoreApplication::translate("PhotoNaming", "无法创建工作目录“%1”，%2未保存")
            .arg(directory, pictureNoun(what));
    return {};
}

SaveOutcome saveImageAsNewFile(const QImage &picture, const QString &directory, const QString &format, int quality,
                               const NameCandidates &names, SavedPicture what)
{
    SaveOutcome outcome;
    const QString noun = pictureNoun(what);
    if (picture.isNull()) {
        outcome.error = QCoreApplication::translate("PhotoNaming", "%1是空的，未保存").arg(noun);
        return outcome;
    }
    const QByteArray key = formatKey(format);
    if (!qtCanWrite(key) && !openCvCanWrite(key)) {
        outcome.error = QCoreApplication::translate("PhotoNaming", "不支持的图片格式“%1”，%2未保存").arg(format, noun);
        return outcome;
    }
    QByteArray bytes;
    outcome.error = encodePicture(picture, key, quality, bytes, noun);
    if (!outcome.error.isEmpty())
        return outcome;
    return saveBytes(bytes, directory, names, noun);
}

SaveOutcome saveBytesAsNewFile(const QByteArray &bytes, const QString &directory, const NameCandidates &names)
{
    return saveBytes(bytes, directory, names, fileNoun());
}

QString createTemporaryPath(const QString &directory, const QString &suffix, QString *error)
{
    QString path;
    const int fd = createTemporaryFile(directory, path, suffix);
    if (fd < 0) {
        if (error)
            *error = QCoreApplication::translate("PhotoNaming", "无法在“%1”中写入%2：%3")
                         .arg(directory, fileNoun(), systemError(errno));
        return {};
    }
    ::close(fd);
    return path;
}

SaveOutcome moveAsNewFile(const QString &tempPath, const QString &directory, const NameCandidates &names)
{
    SaveOutcome outcome;
    const int fd = ::open(nativePath(tempPath).constData(), O_RDONLY | O_CLOEXEC);
    const int syncError = fd < 0 ? errno : (::fsync(fd) != 0 && errno != EINVAL ? errno : 0);
    if (fd >= 0)
        ::close(fd);
    if (syncError != 0) {
        ::unlink(nativePath(tempPath).constData());
        outcome.error = QCoreApplication::translate("PhotoNaming", "无法在“%1”中写入%2：%3")
                            .arg(directory, fileNoun(), systemError(syncError));
        return outcome;
    }
    return claimFirstFreeName(tempPath, directory, names, fileNoun());
}

NameCandidates configuredNames(const ConfigValues &settings, const QString &directory, const QString &suffix,
                               const std::function<int()> &nextNumber)
{
    // The time is read once, so that copies of one file share its stamp.
    return [=, stamp = QDateTime()](int attempt) mutable {
        if (settings.saveType == 0)
            return numberedPhotoName(directory, settings.savePrefix, nextNumber(), suffix);
        if (attempt == 1)
            stamp = QDateTime::currentDateTime();
        return timedPhotoName(directory, stamp, suffix, attempt);
    };
}

ReservedName reserveName(const NameCandidates &names)
{
    ReservedName reserved;
    // The copy carries the candidates' own state (the time stamp once read) into the later attempts.
    NameCandidates source = names;
    int attempt = 1;
    for (; attempt <= kMaxNameAttempts; ++attempt) {
        const QString candidate = source(attempt);
        if (candidate.isEmpty())
            break;
        if (!QFileInfo::exists(candidate)) {
            reserved.path = candidate;
            break;
        }
    }
    if (reserved.path.isEmpty())
        return reserved;
    reserved.candidates = [source, path = reserved.path, attempt](int next) mutable {
        return next == 1 ? path : source(attempt + next - 1);
    };
    return reserved;
}
