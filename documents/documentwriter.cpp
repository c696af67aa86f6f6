#include "documents/documentwriter.h"

#include "app/logging.h"
#include "documents/documenttexts.h"
#include "documents/jpegframe.h"
#include "documents/pdftextlayer.h"
#include "documents/pdfwriter.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <exception>
#include <future>
#include <memory>

namespace {

// Raw pixel value of the merge canvas: white with alpha 0.
constexpr uint kCanvasFill = 0x00FFFFFFu;
// A classic TIFF addresses 4 GiB; its compressed pages could outgrow their
// raw size, so past half of that the file is written as a BigTIFF.
constexpr qint64 kClassicTiffRawBytes = qint64(2) << 30;
constexpr int kBandRows = 128;
constexpr int kRgbSamples = 3;

DocumentOutcome failed(const QString &error, const QList<SourceProblem> &leftOut)
{
    DocumentOutcome outcome;
    outcome.error = error;
    outcome.leftOut = leftOut;
    return outcome;
}

QString noneReadableMessage(const QList<SourceProblem> &leftOut)
{
    return Documents::tr("没有一张图像能够读取，文件未保存。") + QLatin1Char('\n') + leftOutMessage(leftOut);
}

NameCandidates exactlyThisName(const QString &path)
{
    return [path](int attempt) { return attempt == 1 ? path : QString(); };
}

// Why a JPEG that cannot be stored as it is did not decode either.
QString undecodedJpegReason(const JpegFrame &frame, const QString &problem)
{
    if (!frame.complete)
        return Documents::tr("JPEG 文件不完整");
    if (frame.precision != 8)
        return Documents::tr("不支持 %1 位的 JPEG").arg(frame.precision);
    if (frame.height == 0)
        return Documents::tr("JPEG 文件头中没有图像高度");
    return problem;
}

// Runs `write` and turns anything it throws (memory running out above all)
// into a failure, so that no writer thread ends the program.
template <typename Write> DocumentOutcome guarded(const QString &what, Write write)
{
    try {
        return write();
    } catch (const std::bad_alloc &) {
        return failed(Documents::tr("写入%1时内存不足，文件未保存").arg(what), {});
    } catch (const std::exception &e) {
        return failed(Documents::tr("写入%1时出错（%2），文件未保存").arg(what, QString::fromLocal8Bit(e.what())), {});
    } catch (...) {
        return failed(Documents::tr("写入%1时出错，文件未保存").arg(what), {});
    }
}

// Removes the temporary file unless released: every early return and
// exception leaves nothing behind.
class TemporaryFile {
public:
    explicit TemporaryFile(QString path) : m_path(std::move(path)) {}
    ~TemporaryFile()
    {
        if (!m_path.isEmpty())
            QFile::remove(m_path);
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;
    const QString &path() const { return m_path; }
    QString release() { return std::exchange(m_path, QString()); }

private:
    QString m_path;
};

DocumentOutcome buildPdf(const QStringList &sources, const QString &directory, const NameCandidates &names,
                         const PageProgress &progress, const PdfTextLayers &textLayers, const QString &title)
{
    DocumentOutcome outcome;
    outcome.error = ensureDirectory(directory, SavedPicture::Document);
    if (!outcome.error.isEmpty())
        return outcome;
    QString error;
    TemporaryFile temporary(createTemporaryPath(directory, QStringLiteral("pdf"), &error));
    if (temporary.path().isEmpty())
        return failed(error, {});
    PdfWriter pdf(temporary.path());
    std::unique_ptr<TextLayerMetrics> metrics;
    const int total = int(sources.size());
    for (int i = 0; i < total && pdf.errorString().isEmpty(); ++i) {
        const QString &source = sources.at(i);
        QByteArray bytes = readWholeFile(source);
        const JpegFrame frame = readJpegFrame(bytes);
        const bool jpeg = isJpeg(bytes);
        const bool asIs = jpeg && canStoreJpegAsIs(frame);
        DecodedPhotograph decoded;
        if (!asIs) {
            decoded = decodePhotograph(bytes);
            bytes.clear();
            if (decoded.picture.isNull()) {
                const QString reason = jpeg ? undecodedJpegReason(frame, decoded.problem) : decoded.problem;
                outcome.leftOut.append({i, source, reason});
                if (progress)
                    progress(i + 1, total);
                continue;
            }
        }
        const QSize pictureSize = asIs ? QSize(frame.width, frame.height) : decoded.picture.size();
        QByteArray textLayer;
        if (i < textLayers.size() && !textLayers[i].isEmpty()) {
            if (!metrics)
                metrics = std::make_unique<TextLayerMetrics>();
            QString textError;
            // A layer that cannot be made costs that page its text, never the document.
            if (!invisibleTextOperators(*metrics, textLayers[i], pictureSize, PdfWriter::pageSize(pictureSize),
                                        &textLayer, &textError)) {
                qCDebug(lcDocuments) << "text layer left out of page" << i + 1 << textError;
                outcome.withoutText.append({i, source, textError});
                textLayer.clear();
            }
        }
        if (asIs)
            pdf.addJpegPage(bytes, frame, textLayer);
        else
            pdf.addPicturePage(decoded.picture, textLayer);
        ++outcome.pages;
        if (progress)
            progress(i + 1, total);
    }
    if (!pdf.errorString().isEmpty())
        return failed(Documents::tr("写入PDF时出错（%1），文件未保存").arg(pdf.errorString()), outcome.leftOut);
    if (outcome.pages == 0)
        return failed(noneReadableMessage(outcome.leftOut), outcome.leftOut);
    if (!pdf.finish({title, documentCreator(), QDateTime::currentDateTime()}))
        return failed(Documents::tr("写入PDF时出错（%1），文件未保存").arg(pdf.errorString()), outcome.leftOut);
    const SaveOutcome saved = moveAsNewFile(temporary.release(), directory, names);
    outcome.path = saved.path;
    outcome.error = saved.error;
    return outcome;
}

// libtiff's complaints about one file, kept for the message.
int keepTiffError(TIFF *, void *data, const char *module, const char *format, va_list arguments)
{
    auto *error = static_cast<QString *>(data);
    if (error->isEmpty())
        *error = QString::asprintf("%s: ", module ? module : "TIFF") + QString::vasprintf(format, arguments);
    return 1;
}

// The raw size of every source that can be told from its header.
qint64 estimatedRawBytes(const QStringList &sources)
{
    qint64 bytes = 0;
    for (const QString &source : sources) {
        QSize size = QImageReader(source).size();
        if (!size.isValid())
            size = encodedPictureSize(readWholeFile(source));
        bytes += qint64(std::max(0, size.width())) * std::max(0, size.height()) * kRgbSamples;
    }
    return bytes;
}

bool writeTiffPage(TIFF *tiff, const QImage &picture, const QByteArray &stamp)
{
    const QByteArray software = documentCreator().toUtf8();
    TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, uint32_t(picture.width()));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, uint32_t(picture.height()));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, kRgbSamples);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
    TIFFSetField(tiff, TIFFTAG_SOFTWARE, software.constData());
    TIFFSetField(tiff, TIFFTAG_DATETIME, stamp.constData());
    for (int top = 0; top < picture.height(); top += kBandRows) {
        QImage rows = opaqueBand(picture, top, kBandRows, false);
        if (rows.isNull())
            return false;
        for (int y = 0; y < rows.height(); ++y)
            if (TIFFWriteScanline(tiff, rows.scanLine(y), uint32_t(top + y), 0) < 0)
                return false;
    }
    return TIFFWriteDirectory(tiff) != 0;
}

DocumentOutcome buildTiff(const QStringList &sources, const QString &directory, const NameCandidates &names,
                          const PageProgress &progress)
{
    DocumentOutcome outcome;
    outcome.error = ensureDirectory(directory, SavedPicture::Document);
    if (!outcome.error.isEmpty())
        return outcome;
    QString error;
    TemporaryFile temporary(createTemporaryPath(directory, QStringLiteral("tiff"), &error));
    if (temporary.path().isEmpty())
        return failed(error, {});

    const char *mode = estimatedRawBytes(sources) > kClassicTiffRawBytes ? "w8" : "w";
    std::unique_ptr<TIFFOpenOptions, decltype(&TIFFOpenOptionsFree)> options(TIFFOpenOptionsAlloc(),
                                                                             TIFFOpenOptionsFree);
    QString tiffError;
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), keepTiffError, &tiffError);
    TIFFOpenOptionsSetWarningHandlerExtR(
        options.get(), [](TIFF *, void *, const char *, const char *, va_list) { return 1; }, nullptr);
    std::unique_ptr<TIFF, decltype(&TIFFClose)> tiff(
        TIFFOpenExt(QFile::encodeName(temporary.path()).constData(), mode, options.get()), TIFFClose);
    if (!tiff)
        return failed(Documents::tr("写入TIFF时出错，文件未保存。%1").arg(tiffError), {});

    const QByteArray stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy:MM:dd HH:mm:ss")).toLatin1();
    const int total = int(sources.size());
    for (int i = 0; i < total; ++i) {
        const DecodedPhotograph decoded = loadPhotograph(sources.at(i));
        if (decoded.picture.isNull()) {
            outcome.leftOut.append({i, sources.at(i), decoded.problem});
        } else {
            if (!writeTiffPage(tiff.get(), decoded.picture, stamp))
                return failed(Documents::tr("写入TIFF时出错，文件未保存。%1").arg(tiffError), outcome.leftOut);
            ++outcome.pages;
        }
        if (progress)
            progress(i + 1, total);
    }
    if (outcome.pages == 0)
        return failed(noneReadableMessage(outcome.leftOut), outcome.leftOut);
    // Closing writes what is still buffered; a full disk shows here.
    TIFF *open = tiff.release();
    const int flushed = TIFFFlush(open);
    TIFFClose(open);
    if (!flushed || !tiffError.isEmpty())
        return failed(Documents::tr("写入TIFF时出错，文件未保存。%1").arg(tiffError), outcome.leftOut);
    const SaveOutcome saved = moveAsNewFile(temporary.release(), directory, names);
    outcome.path = saved.path;
    outcome.error = saved.error;
    return outcome;
}

} // namespace

QString documentCreator()
{
    return QStringLiteral("vorlant %1").arg(QStringLiteral(VORLANT_VERSION));
}

std::pair<DecodedPhotograph, DecodedPhotograph> loadPhotographPair(const QString &first, const QString &second)
{
    auto secondImage = std::async(std::launch::async, [second] {
        try {
            return loadPhotograph(second);
        } catch (...) {
            return DecodedPhotograph{QImage(), Documents::tr("内存不足")};
        }
    });
    DecodedPhotograph firstImage = loadPhotograph(first);
    return {std::move(firstImage), secondImage.get()};
}

QImage mergeImages(const QImage &first, const QImage &second, bool sideBySide)
{
    const QSize size = sideBySide ? QSize(first.width() + second.width(), std::max(first.height(), second.height()))
                                  : QSize(std::max(first.width(), second.width()), first.height() + second.height());
    if (!pixelLimitProblem(size).isEmpty())
        return {};
    const QPoint secondAt = sideBySide ? QPoint(first.width(), 0) : QPoint(0, first.height());
    QImage canvas(size, QImage::Format_ARGB32);
    if (canvas.isNull())
        return canvas;
    canvas.fill(kCanvasFill);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(QPoint(0, 0), first);
    painter.drawImage(secondAt, second);
    painter.end();
    return canvas;
}

DocumentOutcome writePdfAsNewFile(const QStringList &sources, const QString &directory, const NameCandidates &names,
                                  const PageProgress &progress, const PdfTextLayers &textLayers, const QString &title)
{
    return guarded(QStringLiteral("PDF"),
                   [&] { return buildPdf(sources, directory, names, progress, textLayers, title); });
}

DocumentOutcome writePdfFile(const QStringList &sources, const QString &outputPath, const PageProgress &progress,
                             const PdfTextLayers &textLayers)
{
    return writePdfAsNewFile(sources, QFileInfo(outputPath).absolutePath(), exactlyThisName(outputPath), progress,
                             textLayers, QFileInfo(outputPath).fileName());
}

DocumentOutcome writeTiffAsNewFile(const QStringList &sources, const QString &directory, const NameCandidates &names,
                                   const PageProgress &progress)
{
    return guarded(QStringLiteral("TIFF"), [&] { return buildTiff(sources, directory, names, progress); });
}

DocumentOutcome writeTiffFile(const QStringList &sources, const QString &outputPath, const PageProgress &progress)
{
    return writeTiffAsNewFile(sources, QFileInfo(outputPath).absolutePath(), exactlyThisName(outputPath), progress);
}

QString leftOutMessage(const QList<SourceProblem> &leftOut)
{
    if (leftOut.isEmpty())
        return {};
    QStringList lines;
    for (const SourceProblem &source : leftOut)
        lines << Documents::tr("%1：%2").arg(source.path, source.reason);
    return Documents::tr("以下图像未写入文件：") + QLatin1Char('\n') + lines.join(QLatin1Char('\n'));
}
