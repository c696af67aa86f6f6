#include "documents/pdfwriter.h"

#include "documents/documenttexts.h"
#include "documents/jpegframe.h"
#include "documents/photographfile.h"

#include <QRandomGenerator>

#include <zlib.h>

#include <algorithm>

namespace {

// A4 in points, as readers name it.
constexpr double kA4Short = 595.276;
constexpr double kA4Long = 841.89;
// Pixels are converted and deflated this many rows at a time, so a page
// needs only its decoded picture and one band besides.
constexpr int kBandRows = 128;
constexpr int kDeflateChunk = 256 * 1024;
// The catalog and the table start a little after the last page.
constexpr qint64 kTableMargin = 4096;
constexpr int kIdBytes = 16;

QByteArray number(double value)
{
    QByteArray text = QByteArray::number(value, 'f', 3);
    while (text.endsWith('0'))
        text.chop(1);
    if (text.endsWith('.'))
        text.chop(1);
    return text;
}

QByteArray reference(int object)
{
    return QByteArray::number(object) + " 0 R";
}

// A text string in UTF-16 with its byte-order mark, as hex: safe for any title.
QByteArray textString(const QString &text)
{
    QByteArray utf16 = "\xFE\xFF";
    for (const QChar c : text) {
        utf16 += char(c.unicode() >> 8);
        utf16 += char(c.unicode() & 0xFF);
    }
    return '<' + utf16.toHex() + '>';
}

QByteArray pdfDate(const QDateTime &time)
{
    const int offset = time.offsetFromUtc() / 60;
    const QByteArray sign = offset < 0 ? "-" : offset > 0 ? "+" : "Z";
    QByteArray date = "(D:" + time.toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1() + sign;
    if (offset != 0)
        date += QByteArray::number(qAbs(offset) / 60).rightJustified(2, '0') + '\'' +
                QByteArray::number(qAbs(offset) % 60).rightJustified(2, '0') + '\'';
    return date + ')';
}

} // namespace

QSizeF PdfWriter::pageSize(QSize picture)
{
    return picture.width() > picture.height() ? QSizeF(kA4Long, kA4Short) : QSizeF(kA4Short, kA4Long);
}

PdfWriter::PdfWriter(const QString &path, qint64 largestTableOffset)
    : m_file(path), m_offsets(1, 0), m_largestTableOffset(largestTableOffset)
{
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        fail(m_file.errorString());
        return;
    }
    // The second line marks the file as binary for programs that guess.
    write("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    m_pageTree = newObject();
}

void PdfWriter::fail(const QString &error)
{
    if (m_error.isEmpty())
        m_error = error.isEmpty() ? Documents::tr("写入失败") : error;
}

int PdfWriter::newObject()
{
    m_offsets.append(-1);
    return m_offsets.size() - 1;
}

void PdfWriter::beginObject(int number)
{
    m_offsets[number] = m_file.pos();
    write(QByteArray::number(number) + " 0 obj\n");
}

void PdfWriter::write(const QByteArray &bytes)
{
    if (!m_error.isEmpty())
        return;
    if (m_file.write(bytes) != bytes.size())
        fail(m_file.errorString());
}

void PdfWriter::writeStreamObject(int number, const QByteArray &dictionary, const QByteArray &data)
{
    beginObject(number);
    write("<<" + dictionary + " /Length " + QByteArray::number(data.size()) + ">>\nstream\n");
    write(data);
    write("\nendstream\nendobj\n");
}

bool PdfWriter::addJpegPage(const QByteArray &jpeg, const JpegFrame &frame, const QByteArray &textLayer)
{
    if (!m_error.isEmpty())
        return false;
    QByteArray colours = "/DeviceRGB";
    if (frame.components == 1)
        colours = "/DeviceGray";
    else if (frame.components == 4) // Adobe's CMYK JPEGs store their inks inverted
        colours = "/DeviceCMYK /Decode [1 0 1 0 1 0 1 0]";
    const int image = newObject();
    writeStreamObject(image,
                      "/Type /XObject /Subtype /Image /Width " + QByteArray::number(frame.width) + " /Height " +
                          QByteArray::number(frame.height) + " /ColorSpace " + colours +
                          " /BitsPerComponent 8 /Filter /DCTDecode",
                      jpeg);
    return addPage(image, QSize(frame.width, frame.height), textLayer);
}

bool PdfWriter::addPicturePage(const QImage &picture, const QByteArray &textLayer)
{
    if (!m_error.isEmpty())
        return false;
    if (picture.isNull()) {
        fail(Documents::tr("图像是空的"));
        return false;
    }
    const bool grey = picture.isGrayscale();
    const int image = newObject();
    const int length = newObject();
    beginObject(image);
    write("<</Type /XObject /Subtype /Image /Width " + QByteArray::number(picture.width()) + " /Height " +
          QByteArray::number(picture.height()) + " /ColorSpace " + (grey ? "/DeviceGray" : "/DeviceRGB") +
          " /BitsPerComponent 8 /Filter /FlateDecode /Length " + reference(length) + ">>\nstream\n");
    const qint64 start = m_file.pos();
    if (!deflatePicture(picture, grey))
        return false;
    const qint64 deflated = m_file.pos() - start;
    write("\nendstream\nendobj\n");
    beginObject(length);
    write(QByteArray::number(deflated) + "\nendobj\n");
    return addPage(image, picture.size(), textLayer);
}

bool PdfWriter::deflatePicture(const QImage &picture, bool grey)
{
    z_stream zs{};
    if (deflateInit(&zs, Z_DEFAULT_COMPRESSION) != Z_OK) {
        fail(Documents::tr("无法压缩图像"));
        return false;
    }
    QByteArray out(kDeflateChunk, Qt::Uninitialized);
    const int rowBytes = picture.width() * (grey ? 1 : 3);
    auto pump = [&](const uchar *data, uInt size, int flush) {
        zs.next_in = const_cast<Bytef *>(data);
        zs.avail_in = size;
        do {
            zs.next_out = reinterpret_cast<Bytef *>(out.data());
            zs.avail_out = uInt(out.size());
            deflate(&zs, flush);
            write(QByteArray::fromRawData(out.constData(), out.size() - int(zs.avail_out)));
        } while (zs.avail_out == 0 && m_error.isEmpty());
    };
    for (int top = 0; top < picture.height() && m_error.isEmpty(); top += kBandRows) {
        const QImage rows = opaqueBand(picture, top, kBandRows, grey);
        if (rows.isNull()) {
            fail(Documents::tr("内存不足"));
            break;
        }
        for (int y = 0; y < rows.height(); ++y)
            pump(rows.constScanLine(y), uInt(rowBytes), Z_NO_FLUSH);
    }
    pump(nullptr, 0, Z_FINISH);
    deflateEnd(&zs);
    return m_error.isEmpty();
}

void PdfWriter::writeFonts()
{
    // Chinese in a CID font every reader's CJK support supplies, nothing
    // embedded; its two-byte codes are all full width.
    m_chineseFont = newObject();
    const int descendant = newObject();
    const int descriptor = newObject();
    beginObject(m_chineseFont);
    write("<</Type /Font /Subtype /Type0 /BaseFont /SimSun /Encoding /GBK-EUC-H /DescendantFonts [" +
          reference(descendant) + "]>>\nendobj\n");
    beginObject(descendant);
    write("<</Type /Font /Subtype /CIDFontType0 /BaseFont /SimSun /CIDSystemInfo <</Registry (Adobe) /Ordering (GB1) "
          "/Supplement 2>> /FontDescriptor " +
          reference(descriptor) + " /DW 1000 /W [1 95 500]>>\nendobj\n");
    beginObject(descriptor);
    write("<</Type /FontDescriptor /FontName /SimSun /Flags 6 /FontBBox [0 -141 996 855] /ItalicAngle 0 "
          "/Ascent 859 /Descent -141 /CapHeight 683 /StemV 80>>\nendobj\n");
    m_latinFont = newObject();
    beginObject(m_latinFont);
    write("<</Type /Font /Subtype /Type1 /BaseFont /Helvetica>>\nendobj\n");
}

bool PdfWriter::addPage(int image, QSize pictureSize, const QByteArray &textLayer)
{
    const QSizeF page = pageSize(pictureSize);
    QByteArray resources = "/XObject <</Im0 " + reference(image) + ">>";
    if (!textLayer.isEmpty()) {
        if (m_chineseFont == 0)
            writeFonts();
        resources += QByteArray(" /Font <</") + kChineseFontName + ' ' + reference(m_chineseFont) + " /" +
                     kLatinFontName + ' ' + reference(m_latinFont) + ">>";
    }
    // The picture fills the page; its aspect ratio gives way to the paper's.
    const int content = newObject();
    writeStreamObject(
        content, {}, "q " + number(page.width()) + " 0 0 " + number(page.height()) + " 0 0 cm /Im0 Do Q\n" + textLayer);
    const int pageObject = newObject();
    beginObject(pageObject);
    write("<</Type /Page /Parent " + reference(m_pageTree) + " /MediaBox [0 0 " + number(page.width()) + ' ' +
          number(page.height()) + "] /Resources <<" + resources + ">> /Contents " + reference(content) +
          ">>\nendobj\n");
    m_pages.append(pageObject);
    return m_error.isEmpty();
}

bool PdfWriter::finish(const PdfInfo &info)
{
    QByteArray kids;
    for (int page : m_pages)
        kids += reference(page) + '\n';
    beginObject(m_pageTree);
    write("<</Type /Pages /Count " + QByteArray::number(m_pages.size()) + " /Kids [" + kids + "]>>\nendobj\n");

    const int information = newObject();
    beginObject(information);
    const QByteArray date = pdfDate(info.created);
    write("<</Title " + textString(info.title) + " /Creator " + textString(info.creator) + " /Producer " +
          textString(info.creator) + " /CreationDate " + date + " /ModDate " + date + ">>\nendobj\n");

    const bool stream = m_file.pos() > m_largestTableOffset - kTableMargin;
    const int catalog = newObject();
    const int crossReference = stream ? newObject() : 0;
    beginObject(catalog);
    write(QByteArray("<</Type /Catalog /Pages ") + reference(m_pageTree) + (stream ? " /Version /1.5" : "") +
          ">>\nendobj\n");

    QByteArray id(kIdBytes, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(id.data()), kIdBytes / 4);
    const QByteArray trailer = " /Size " + QByteArray::number(m_offsets.size()) + " /Root " + reference(catalog) +
                               " /Info " + reference(information) + " /ID [<" + id.toHex() + "> <" + id.toHex() + ">]";
    const qint64 start = m_file.pos();
    if (!stream) {
        QByteArray table = "xref\n0 " + QByteArray::number(m_offsets.size()) + "\n0000000000 65535 f \n";
        for (int object = 1; object < m_offsets.size(); ++object)
            table += QByteArray::number(m_offsets[object]).rightJustified(10, '0') + " 00000 n \n";
        write(table + "trailer\n<<" + trailer + ">>\n");
    } else {
        m_offsets[crossReference] = start;
        QByteArray entries;
        for (int object = 0; object < m_offsets.size(); ++object) {
            const quint64 offset = object == 0 ? 0 : quint64(m_offsets[object]);
            entries += char(object == 0 ? 0 : 1);
            for (int shift = 56; shift >= 0; shift -= 8)
                entries += char((offset >> shift) & 0xFF);
            entries += object == 0 ? QByteArray("\xFF\xFF", 2) : QByteArray(2, '\0');
        }
        writeStreamObject(crossReference, "/Type /XRef /W [1 8 2]" + trailer, entries);
    }
    write("startxref\n" + QByteArray::number(start) + "\n%%EOF\n");
    if (m_error.isEmpty() && !m_file.flush())
        fail(m_file.errorString());
    m_file.close();
    return m_error.isEmpty();
}
