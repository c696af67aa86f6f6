#include "documents/documentwriter.h"

#include "engine/frameconversion.h"
#include "documents/pdftextlayer.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>

#include <hpdf.h>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cstring>
#include <future>
#include <memory>
#include <vector>

namespace {

// Raw pixel value of the merge canvas: white with alpha 0.
constexpr uint kCanvasFill = 0x00FFFFFFu;

bool isJpeg(const QByteArray &bytes)
{
    return bytes.size() >= 2 && uchar(bytes[0]) == 0xFF && uchar(bytes[1]) == 0xD8;
}

// Walks the marker segments to the first scan and looks for the end marker
// after it; inside entropy-coded data 0xFF is always stuffed, so 0xFF 0xD9
// there can only be the end. A file cut short while being written has none.
bool isCompleteJpeg(const QByteArray &bytes)
{
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    const qsizetype size = bytes.size();
    if (!isJpeg(bytes))
        return false;
    qsizetype pos = 2;
    while (pos + 4 <= size) {
        if (data[pos] != 0xFF)
            return false;
        const uchar marker = data[pos + 1];
        if (marker == 0xFF) {
            ++pos;
            continue;
        }
        if (marker == 0xD9)
            return false;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            pos += 2;
            continue;
        }
        const int length = (data[pos + 2] << 8) | data[pos + 3];
        if (length < 2)
            return false;
        if (marker == 0xDA) {
            const qsizetype scan = pos + 2 + length;
            static const uchar kEnd[] = {0xFF, 0xD9};
            return scan < size && memmem(data + scan, size_t(size - scan), kEnd, sizeof kEnd) != nullptr;
        }
        pos += 2 + length;
    }
    return false;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

cv::Mat decodeMat(const QByteArray &bytes, int flags)
{
    if (bytes.isEmpty() || (isJpeg(bytes) && !isCompleteJpeg(bytes)))
        return {};
    try {
        const cv::Mat encoded(1, bytes.size(), CV_8U, const_cast<char *>(bytes.constData()));
        return cv::imdecode(encoded, flags);
    } catch (const cv::Exception &) {
        return {};
    }
}

QImage decodePhotograph(const QByteArray &bytes)
{
    if (bytes.isEmpty() || (isJpeg(bytes) && !isCompleteJpeg(bytes)))
        return {};
    const QImage picture = QImage::fromData(bytes);
    if (!picture.isNull())
        return picture;
    // Formats without a Qt reader on this system (TIFF) go through OpenCV.
    return matToQImage(decodeMat(bytes, cv::IMREAD_ANYCOLOR));
}

DocumentOutcome failed(const QString &error, const QStringList &leftOut)
{
    DocumentOutcome outcome;
    outcome.error = error;
    outcome.leftOut = leftOut;
    return outcome;
}

QString noneReadableMessage(const QStringList &leftOut)
{
    return QStringLiteral("没有一张图像能够读取，文件未保存。\n") + leftOut.join(QLatin1Char('\n'));
}

NameCandidates exactlyThisName(const QString &path)
{
    return [path](int attempt) { return attempt == 1 ? path : QString(); };
}

struct PdfErrors {
    HPDF_STATUS code = HPDF_OK;
    HPDF_STATUS detail = 0;
};

void recordPdfError(HPDF_STATUS code, HPDF_STATUS detail, void *data)
{
    auto *errors = static_cast<PdfErrors *>(data);
    if (errors->code == HPDF_OK) {
        errors->code = code;
        errors->detail = detail;
    }
}

QString pdfErrorMessage(const PdfErrors &errors)
{
    return QStringLiteral("写入PDF时出错（错误 0x%1，%2），文件未保存")
        .arg(uint(errors.code), 4, 16, QLatin1Char('0'))
        .arg(uint(errors.detail));
}

// Decoded pixels as an uncompressed-then-deflated image: grey stays grey,
// transparency is laid on white paper.
HPDF_Image embedLossless(HPDF_Doc doc, QImage picture)
{
    if (picture.hasAlphaChannel()) {
        QImage flat(picture.size(), QImage::Format_RGB32);
        flat.fill(Qt::white);
        QPainter painter(&flat);
        painter.drawImage(0, 0, picture);
        painter.end();
        picture = flat;
    }
    const bool grey = picture.isGrayscale();
    picture = picture.convertToFormat(grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    const int rowBytes = picture.width() * (grey ? 1 : 3);
    QByteArray packed(rowBytes * picture.height(), Qt::Uninitialized);
    for (int y = 0; y < picture.height(); ++y)
        std::memcpy(packed.data() + qsizetype(y) * rowBytes, picture.constScanLine(y), size_t(rowBytes));
    HPDF_SetCompressionMode(doc, HPDF_COMP_IMAGE);
    return HPDF_LoadRawImageFromMem(doc, reinterpret_cast<const HPDF_BYTE *>(packed.constData()),
                                    HPDF_UINT(picture.width()), HPDF_UINT(picture.height()),
                                    grey ? HPDF_CS_DEVICE_GRAY : HPDF_CS_DEVICE_RGB, 8);
}

// Builds the whole document in memory; empty with outcome.error set on failure.
QByteArray buildPdf(const QStringList &sources, const PageProgress &progress, const PdfTextLayers &textLayers,
                    DocumentOutcome &outcome)
{
    PdfErrors errors;
    std::unique_ptr<std::remove_pointer_t<HPDF_Doc>, decltype(&HPDF_Free)> doc(HPDF_New(recordPdfError, &errors),
                                                                              HPDF_Free);
    if (!doc) {
        outcome.error = QStringLiteral("无法创建PDF文档，文件未保存");
        return {};
    }
    TextLayerFonts fonts;
    bool fontsFailed = false;
    const int total = int(sources.size());
    for (int i = 0; i < total; ++i) {
        const QString &source = sources.at(i);
        const QByteArray bytes = readFile(source);
        HPDF_Image image = nullptr;
        if (isCompleteJpeg(bytes)) {
            // Stored as it is: the page shows the camera's own JPEG.
            HPDF_SetCompressionMode(doc.get(), HPDF_COMP_NONE);
            image = HPDF_LoadJpegImageFromMem(doc.get(), reinterpret_cast<const HPDF_BYTE *>(bytes.constData()),
                                              HPDF_UINT(bytes.size()));
            if (!image) {
                // A JPEG kind the library does not take (CMYK, 12-bit): embed its pixels instead.
                HPDF_ResetError(doc.get());
                errors = PdfErrors();
            }
        }
        if (!image) {
            const QImage picture = decodePhotograph(bytes);
            if (picture.isNull()) {
                outcome.leftOut << source;
                if (progress)
                    progress(i + 1, total);
                continue;
            }
            image = embedLossless(doc.get(), picture);
        }
        if (image) {
            const HPDF_UINT width = HPDF_Image_GetWidth(image);
            const HPDF_UINT height = HPDF_Image_GetHeight(image);
            HPDF_Page page = HPDF_AddPage(doc.get());
            if (page) {
                HPDF_Page_SetSize(page, HPDF_PAGE_SIZE_A4, width > height ? HPDF_PAGE_LANDSCAPE : HPDF_PAGE_PORTRAIT);
                HPDF_Page_DrawImage(page, image, 0, 0, HPDF_Page_GetWidth(page), HPDF_Page_GetHeight(page));
                if (i < textLayers.size() && !textLayers[i].isEmpty() && errors.code == HPDF_OK) {
                    if (!fonts.chinese && !fontsFailed) {
                        fonts = textLayerFonts(doc.get());
                        // Without its fonts the document is still written, only not searchable.
                        fontsFailed = errors.code != HPDF_OK || !fonts.chinese || !fonts.latin;
                        if (fontsFailed) {
                            qDebug() << "text layer fonts unavailable:" << pdfErrorMessage(errors);
                            HPDF_ResetError(doc.get());
                            errors = PdfErrors();
                            fonts = TextLayerFonts();
                        }
                    }
                    addInvisibleText(page, fonts, textLayers[i], QSize(int(width), int(height)),
                                     QRectF(0, 0, HPDF_Page_GetWidth(page), HPDF_Page_GetHeight(page)));
                }
            }
        }
        if (errors.code != HPDF_OK || !image) {
            outcome.error = pdfErrorMessage(errors);
            return {};
        }
        ++outcome.pages;
        if (progress)
            progress(i + 1, total);
    }
    if (outcome.pages == 0) {
        outcome.error = noneReadableMessage(outcome.leftOut);
        return {};
    }
    HPDF_SaveToStream(doc.get());
    HPDF_UINT32 size = HPDF_GetStreamSize(doc.get());
    QByteArray pdf(int(size), Qt::Uninitialized);
    if (errors.code == HPDF_OK)
        HPDF_GetContents(doc.get(), reinterpret_cast<HPDF_BYTE *>(pdf.data()), &size);
    if (errors.code != HPDF_OK || size != HPDF_UINT32(pdf.size()) || size == 0) {
        outcome.error = pdfErrorMessage(errors);
        return {};
    }
    return pdf;
}

} // namespace

QImage loadPhotograph(const QString &path)
{
    return decodePhotograph(readFile(path));
}

std::pair<QImage, QImage> loadPhotographPair(const QString &first, const QString &second)
{
    auto secondImage = std::async(std::launch::async, [second] { return loadPhotograph(second); });
    QImage firstImage = loadPhotograph(first);
    return {std::move(firstImage), secondImage.get()};
}

QImage mergeImages(const QImage &first, const QImage &second, bool sideBySide)
{
    const QSize size = sideBySide
                           ? QSize(first.width() + second.width(), std::max(first.height(), second.height()))
                           : QSize(std::max(first.width(), second.width()), first.height() + second.height());
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
                                  const PageProgress &progress, const PdfTextLayers &textLayers)
{
    DocumentOutcome outcome;
    outcome.error = ensureDirectory(directory);
    if (!outcome.error.isEmpty())
        return outcome;
    const QByteArray pdf = buildPdf(sources, progress, textLayers, outcome);
    if (!outcome.error.isEmpty())
        return outcome;
    const SaveOutcome saved = saveBytesAsNewFile(pdf, directory, names);
    outcome.path = saved.path;
    outcome.error = saved.error;
    return outcome;
}

DocumentOutcome writePdfFile(const QStringList &sources, const QString &outputPath, const PageProgress &progress,
                             const PdfTextLayers &textLayers)
{
    return writePdfAsNewFile(sources, QFileInfo(outputPath).absolutePath(), exactlyThisName(outputPath), progress,
                             textLayers);
}

DocumentOutcome writeTiffAsNewFile(const QStringList &sources, const QString &directory, const NameCandidates &names,
                                   const PageProgress &progress)
{
    DocumentOutcome outcome;
    outcome.error = ensureDirectory(directory);
    if (!outcome.error.isEmpty())
        return outcome;
    std::vector<cv::Mat> pages;
    const int total = int(sources.size());
    for (int i = 0; i < total; ++i) {
        cv::Mat page = decodeMat(readFile(sources.at(i)), cv::IMREAD_COLOR);
        if (page.empty())
            outcome.leftOut << sources.at(i);
        else
            pages.push_back(std::move(page));
        if (progress)
            progress(i + 1, total);
    }
    if (pages.empty())
        return failed(noneReadableMessage(outcome.leftOut), outcome.leftOut);

    QString error;
    const QString tempPath = createTemporaryPath(directory, QStringLiteral("tiff"), &error);
    if (tempPath.isEmpty())
        return failed(error, outcome.leftOut);
    bool written = false;
    try {
        written = cv::imwrite(QFile::encodeName(tempPath).toStdString(), pages);
    } catch (const cv::Exception &e) {
        error = QString::fromStdString(e.what());
    }
    if (!written) {
        QFile::remove(tempPath);
        return failed(QStringLiteral("写入TIFF时出错，文件未保存。%1").arg(error), outcome.leftOut);
    }
    const SaveOutcome saved = moveAsNewFile(tempPath, directory, names);
    outcome.path = saved.path;
    outcome.error = saved.error;
    outcome.pages = int(pages.size());
    return outcome;
}

DocumentOutcome writeTiffFile(const QStringList &sources, const QString &outputPath, const PageProgress &progress)
{
    return writeTiffAsNewFile(sources, QFileInfo(outputPath).absolutePath(), exactlyThisName(outputPath), progress);
}

QString leftOutMessage(const QStringList &leftOut)
{
    if (leftOut.isEmpty())
        return {};
    return QStringLiteral("以下图像无法读取，未写入文件：\n") + leftOut.join(QLatin1Char('\n'));
}
