#include "documents/pdftextlayer.h"

#include "documents/documenttexts.h"
#include "documents/pdfwriter.h"

#include <QTextCodec>

#include <algorithm>
#include <cmath>

namespace {

const char kLatinFont[] = "Helvetica";
// Every two-byte code of the Chinese font is one em wide.
constexpr double kChineseWidth = 1000;
constexpr double kThousandths = 1000;
// The font size is this share of the line's height; the baseline sits this
// share of the size above the line's bottom, below it descenders hang.
constexpr double kSizeOfLineHeight = 0.9;
constexpr double kDescent = 0.12;
// The longest string a reader is sure to take; a run is cut there (on a
// character boundary: every Chinese code is two bytes).
constexpr int kLongestString = 65534;
// The first byte of a two-byte EUC-CN code, the range GBK-EUC-H covers.
constexpr uchar kEucFirstByte = 0xa1;
// Invisible text: neither filled nor stroked, yet found and selected.
constexpr int kInvisibleRendering = 3;

bool isLatin(QChar c)
{
    return c.unicode() < 0x80;
}

struct Run {
    bool latin = false;
    QByteArray bytes;
};

// Control characters are dropped: they draw nothing and some readers choke on them.
QList<Run> splitRuns(const QString &text)
{
    QList<Run> runs;
    for (int i = 0; i < text.size();) {
        const bool latin = isLatin(text[i]);
        int end = i;
        while (end < text.size() && isLatin(text[end]) == latin)
            ++end;
        const QString piece = text.mid(i, end - i);
        QByteArray bytes;
        if (latin) {
            for (const QChar c : piece)
                if (c.unicode() >= 0x20 && c.unicode() < 0x7f)
                    bytes += char(c.unicode());
        } else {
            bytes = chineseFontBytes(piece);
        }
        if (!bytes.isEmpty())
            runs.append({latin, bytes.left(kLongestString)});
        i = end;
    }
    return runs;
}

QByteArray number(double value)
{
    QByteArray text = QByteArray::number(value, 'f', 2);
    while (text.endsWith('0'))
        text.chop(1);
    if (text.endsWith('.'))
        text.chop(1);
    return text == "-0" ? "0" : text;
}

} // namespace

TextLayerMetrics::TextLayerMetrics()
{
    m_doc = HPDF_New(recordError, &m_error);
    if (m_doc)
        m_latin = HPDF_GetFont(m_doc, kLatinFont, nullptr);
}

TextLayerMetrics::~TextLayerMetrics()
{
    if (m_doc)
        HPDF_Free(m_doc);
}

void TextLayerMetrics::recordError(HPDF_STATUS code, HPDF_STATUS, void *data)
{
    *static_cast<HPDF_STATUS *>(data) = code;
}

double TextLayerMetrics::latinWidth(const QByteArray &text) const
{
    if (!m_latin || m_error != HPDF_OK)
        return -1;
    const HPDF_TextWidth width =
        HPDF_Font_TextWidth(m_latin, reinterpret_cast<const HPDF_BYTE *>(text.constData()), HPDF_UINT(text.size()));
    return m_error == HPDF_OK ? double(width.width) : -1;
}

QByteArray chineseFontBytes(const QString &text)
{
    static QTextCodec *const codec = QTextCodec::codecForName("GBK");
    QByteArray out;
    if (!codec)
        return out;
    const QVector<uint> points = text.toUcs4();
    for (uint point : points) {
        const QString one = QString::fromUcs4(&point, 1);
        QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
        const QByteArray bytes = codec->fromUnicode(one.constData(), one.size(), &state);
        if (state.invalidChars == 0 && bytes.size() == 2 && static_cast<uchar>(bytes[0]) >= kEucFirstByte &&
            static_cast<uchar>(bytes[1]) >= kEucFirstByte)
            out += bytes;
    }
    return out;
}

bool invisibleTextOperators(const TextLayerMetrics &metrics, const QList<OcrLine> &lines, QSize pictureSize,
                            QSizeF page, QByteArray *operators, QString *error)
{
    operators->clear();
    if (pictureSize.isEmpty())
        return true;
    const double sx = page.width() / pictureSize.width();
    const double sy = page.height() / pictureSize.height();
    const QRect picture(QPoint(0, 0), pictureSize);
    for (const OcrLine &line : lines) {
        const QRect box = line.box.intersected(picture);
        const QList<Run> runs = splitRuns(line.text);
        if (box.isEmpty() || runs.isEmpty())
            continue;
        const double size = std::max(1.0, box.height() * sy * kSizeOfLineHeight);
        // The natural width at this size, to stretch the runs to the line's width.
        double natural = 0;
        for (const Run &run : runs) {
            const double width = run.latin ? metrics.latinWidth(run.bytes) : kChineseWidth * run.bytes.size() / 2;
            if (width < 0) {
                *error = Documents::tr("无法计算文字宽度");
                operators->clear();
                return false;
            }
            natural += width * size / kThousandths;
        }
        if (natural <= 0)
            continue;
        const double scaling = 100.0 * box.width() * sx / natural;
        const double x = box.left() * sx;
        // PDF pages count upwards from the bottom, pictures downwards from the top.
        const double baseline = page.height() - (box.top() + box.height()) * sy + size * kDescent;
        if (!std::isfinite(scaling) || !std::isfinite(baseline))
            continue;

        QByteArray text = "BT " + QByteArray::number(kInvisibleRendering) + " Tr " + number(scaling) + " Tz " +
                          number(x) + ' ' + number(baseline) + " Td";
        for (const Run &run : runs)
            text += QByteArray(" /") + (run.latin ? PdfWriter::kLatinFontName : PdfWriter::kChineseFontName) + ' ' +
                    number(size) + " Tf <" + run.bytes.toHex() + "> Tj";
        *operators += text + " ET\n";
    }
    return true;
}
