#include "documents/pdftextlayer.h"

#include <QTextCodec>

#include <algorithm>

namespace {

// A CID font with its CMap, both built into every reader's CJK support.
const char kChineseFont[] = "SimSun";
const char kChineseEncoding[] = "GBK-EUC-H";
const char kLatinFont[] = "Helvetica";
// The library's limits on horizontal scaling, in per cent.
constexpr HPDF_REAL kLeastScaling = 10;
constexpr HPDF_REAL kMostScaling = 300;
// The font size is this share of the line's height; the baseline sits this
// share of the size above the line's bottom, below it descenders hang.
constexpr double kSizeOfLineHeight = 0.9;
constexpr double kDescent = 0.12;
// The first byte of a two-byte EUC-CN code, the range GBK-EUC-H covers.
constexpr uchar kEucFirstByte = 0xa1;

bool isLatin(QChar c)
{
    return c.unicode() < 0x80;
}

struct Run {
    bool latin = false;
    QByteArray bytes;
};

QList<Run> splitRuns(const QString &text)
{
    QList<Run> runs;
    for (int i = 0; i < text.size();) {
        const bool latin = isLatin(text[i]);
        int end = i;
        while (end < text.size() && isLatin(text[end]) == latin)
            ++end;
        const QString piece = text.mid(i, end - i);
        const QByteArray bytes = latin ? piece.toLatin1() : chineseFontBytes(piece);
        if (!bytes.isEmpty())
            runs.append({latin, bytes});
        i = end;
    }
    return runs;
}

} // namespace

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

TextLayerFonts textLayerFonts(HPDF_Doc pdf)
{
    TextLayerFonts fonts;
    HPDF_UseCNSFonts(pdf);
    HPDF_UseCNSEncodings(pdf);
    fonts.chinese = HPDF_GetFont(pdf, kChineseFont, kChineseEncoding);
    fonts.latin = HPDF_GetFont(pdf, kLatinFont, nullptr);
    return fonts;
}

void addInvisibleText(HPDF_Page page, const TextLayerFonts &fonts, const QList<OcrLine> &lines, QSize pictureSize,
                      const QRectF &target)
{
    if (!fonts.chinese || !fonts.latin || pictureSize.isEmpty())
        return;
    const double sx = target.width() / pictureSize.width();
    const double sy = target.height() / pictureSize.height();
    for (const OcrLine &line : lines) {
        const QList<Run> runs = splitRuns(line.text);
        if (runs.isEmpty())
            continue;
        const double height = line.box.height() * sy;
        const double size = std::max(1.0, height * kSizeOfLineHeight);
        // The natural width at this size, to stretch the run to the line's width.
        double natural = 0;
        for (const Run &run : runs) {
            HPDF_Page_SetFontAndSize(page, run.latin ? fonts.latin : fonts.chinese, static_cast<HPDF_REAL>(size));
            natural += HPDF_Page_TextWidth(page, run.bytes.constData());
        }
        if (natural <= 0)
            continue;
        const double width = line.box.width() * sx;
        const HPDF_REAL scaling =
            std::clamp(static_cast<HPDF_REAL>(100.0 * width / natural), kLeastScaling, kMostScaling);
        const double x = target.left() + line.box.left() * sx;
        // PDF pages count upwards from the bottom, pictures downwards from the top.
        const double bottom = target.top() + target.height() - (line.box.top() + line.box.height()) * sy;

        HPDF_Page_BeginText(page);
        HPDF_Page_SetTextRenderingMode(page, HPDF_INVISIBLE);
        HPDF_Page_SetHorizontalScalling(page, scaling);
        HPDF_Page_MoveTextPos(page, static_cast<HPDF_REAL>(x), static_cast<HPDF_REAL>(bottom + size * kDescent));
        for (const Run &run : runs) {
            HPDF_Page_SetFontAndSize(page, run.latin ? fonts.latin : fonts.chinese, static_cast<HPDF_REAL>(size));
            HPDF_Page_ShowText(page, run.bytes.constData());
        }
        HPDF_Page_EndText(page);
    }
}
