#include "documents/photographfile.h"

#include "documents/documenttexts.h"
#include "documents/jpegframe.h"
#include "engine/frameconversion.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QPainter>

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <exception>

namespace {

// libjpeg decodes at down to an eighth of the stored size.
constexpr int kJpegLeastScale = 8;

constexpr quint16 kTiffWidthTag = 256;
constexpr quint16 kTiffLengthTag = 257;
constexpr quint16 kTiffShort = 3;
constexpr quint16 kTiffLong = 4;
constexpr quint16 kTiffLong8 = 16;

qint64 pixelCount(QSize size)
{
    return qint64(size.width()) * size.height();
}

// Width and length of the first page of a classic or big TIFF.
QSize tiffSize(const QByteArray &bytes)
{
    const bool little = bytes.startsWith("II");
    if (!little && !bytes.startsWith("MM"))
        return {};
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    const quint64 size = quint64(bytes.size());
    bool inside = true;
    auto number = [&](quint64 at, int width) -> quint64 {
        if (at + quint64(width) > size) {
            inside = false;
            return 0;
        }
        quint64 value = 0;
        for (int i = 0; i < width; ++i)
            value |= quint64(data[at + quint64(little ? i : width - 1 - i)]) << (8 * i);
        return value;
    };
    const quint64 magic = number(2, 2);
    const bool big = magic == 43;
    if (magic != 42 && !big)
        return {};
    const quint64 directory = big ? number(8, 8) : number(4, 4);
    const quint64 entries = big ? number(directory, 8) : number(directory, 2);
    const quint64 first = directory + (big ? 8 : 2);
    const int entrySize = big ? 20 : 12;
    quint64 width = 0;
    quint64 length = 0;
    for (quint64 i = 0; i < entries && inside && first + i * entrySize < size; ++i) {
        const quint64 entry = first + i * entrySize;
        const quint64 tag = number(entry, 2);
        const quint64 type = number(entry + 2, 2);
        const quint64 at = entry + (big ? 12 : 8);
        const int width8 = type == kTiffShort ? 2 : type == kTiffLong ? 4 : type == kTiffLong8 ? 8 : 0;
        if (width8 == 0)
            continue;
        if (tag == kTiffWidthTag)
            width = number(at, width8);
        else if (tag == kTiffLengthTag)
            length = number(at, width8);
    }
    if (!inside || width == 0 || length == 0 || width > quint64(INT_MAX) || length > quint64(INT_MAX))
        return {};
    return QSize(int(width), int(length));
}

QString unreadable()
{
    return Documents::tr("无法读取");
}

cv::Mat decodeWithOpenCv(const QByteArray &bytes, int flags)
{
    try {
        const cv::Mat encoded(1, int(bytes.size()), CV_8U, const_cast<char *>(bytes.constData()));
        return cv::imdecode(encoded, flags);
    } catch (const cv::Exception &) {
        return {};
    }
}

} // namespace

QByteArray readWholeFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QSize encodedPictureSize(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    const QSize size = QImageReader(&buffer).size();
    return size.isValid() ? size : tiffSize(bytes);
}

QString pixelLimitProblem(QSize size)
{
    if (pixelCount(size) <= kMaxDecodedPixels)
        return {};
    return Documents::tr("图像太大（%1×%2 像素，最多 %3 百万像素）")
        .arg(size.width())
        .arg(size.height())
        .arg(kMaxDecodedPixels / 1000000);
}

DecodedPhotograph decodePhotograph(const QByteArray &bytes)
{
    DecodedPhotograph decoded;
    if (bytes.isEmpty() || (isJpeg(bytes) && !readJpegFrame(bytes).complete)) {
        decoded.problem = unreadable();
        return decoded;
    }
    const QSize size = encodedPictureSize(bytes);
    decoded.problem = pixelLimitProblem(size);
    if (!decoded.problem.isEmpty())
        return decoded;
    try {
        decoded.picture = QImage::fromData(bytes);
        // Formats without a Qt reader on this system (TIFF) go through OpenCV,
        // which keeps to its own limit where no size could be read beforehand.
        if (decoded.picture.isNull())
            decoded.picture = matToQImage(decodeWithOpenCv(bytes, cv::IMREAD_ANYCOLOR));
    } catch (const std::bad_alloc &) {
        decoded.picture = QImage();
    }
    if (decoded.picture.isNull())
        decoded.problem = unreadable();
    else
        decoded.problem = pixelLimitProblem(decoded.picture.size());
    if (!decoded.problem.isEmpty())
        decoded.picture = QImage();
    return decoded;
}

DecodedPhotograph loadPhotograph(const QString &path)
{
    return decodePhotograph(readWholeFile(path));
}

QImage opaqueBand(const QImage &picture, int top, int count, bool grey)
{
    QImage rows = picture.copy(0, top, picture.width(), std::min(count, picture.height() - top));
    if (rows.hasAlphaChannel()) {
        QImage flat(rows.size(), QImage::Format_RGB32);
        flat.fill(Qt::white);
        QPainter painter(&flat);
        painter.drawImage(0, 0, rows);
        painter.end();
        rows = flat;
    }
    return rows.convertToFormat(grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
}

QImage loadThumbnail(const QString &path, QSize box, Qt::AspectRatioMode mode)
{
    QImageReader reader(path);
    const QSize size = reader.size();
    if (size.isValid()) {
        const bool jpeg = reader.format() == "jpeg";
        const QSize decoded = jpeg ? QSize((size.width() + kJpegLeastScale - 1) / kJpegLeastScale,
                                           (size.height() + kJpegLeastScale - 1) / kJpegLeastScale)
                                   : size;
        if (!pixelLimitProblem(decoded).isEmpty())
            return {};
        reader.setScaledSize(size.scaled(box, mode));
        return reader.read();
    }
    const QImage picture = loadPhotograph(path).picture;
    return picture.isNull() ? picture : picture.scaled(box, mode, Qt::SmoothTransformation);
}
