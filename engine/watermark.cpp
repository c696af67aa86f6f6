#include "engine/watermark.h"

#include <QFontMetrics>
#include <QPen>

#include <algorithm>

namespace {

constexpr QRgb kTransparentWhite = 0x00FFFFFF;
constexpr double kCentrePercent = 50.0;
// Shifts and inset sizes beyond this put everything outside the picture
// anyway; the bound keeps the conversion to int defined.
constexpr double kCoordinateLimit = 1 << 24;

const QString kTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

int truncatedCoordinate(double value)
{
    return static_cast<int>(std::clamp(value, -kCoordinateLimit, kCoordinateLimit));
}

struct WatermarkLayout {
    QFont font;
    QPen pen;
    QPoint shift;
    double opacity = 1.0;
};

WatermarkLayout layoutWatermark(const QPainter &painter, const QSize &pictureSize, const QString &text,
                                const ConfigValues &settings)
{
    WatermarkLayout layout;
    layout.pen = painter.pen();
    QColor colour;
    colour.setNamedColor(QLatin1Char('#') + settings.watermarkColor);
    layout.pen.setColor(colour);
    layout.font = watermarkFont(settings);
    const QRect textBox = QFontMetrics(layout.font).boundingRect(text);
    layout.shift = watermarkShift(pictureSize, textBox.size(), settings.watermarkX, settings.watermarkY);
    layout.opacity = 1.0 - settings.watermarkTransparency / 100.0;
    return layout;
}

// Draws the text, moved by the layout's shift less `origin`, into an overlay.
void drawOverlayText(QImage &overlay, const WatermarkLayout &layout, const QPoint &origin, const QSize &pictureSize,
                     const QString &text)
{
    QPainter painter(&overlay);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setCompositionMode(QPainter::CompositionMode_DestinationOver);
    painter.setPen(layout.pen);
    painter.setFont(layout.font);
    painter.translate(layout.shift - origin);
    painter.drawText(QRect(QPoint(0, 0), pictureSize), Qt::AlignCenter, text);
}

bool transparentRow(const QImage &overlay, int y)
{
    const QRgb *line = reinterpret_cast<const QRgb *>(overlay.constScanLine(y));
    return std::all_of(line, line + overlay.width(), [](QRgb pixel) { return qAlpha(pixel) == 0; });
}

bool transparentColumn(const QImage &overlay, int x)
{
    for (int y = 0; y < overlay.height(); ++y)
        if (qAlpha(reinterpret_cast<const QRgb *>(overlay.constScanLine(y))[x]) != 0)
            return false;
    return true;
}

// Whether the overlay of `box` has ink on an edge that lies inside `whole`.
bool inkOnInnerEdge(const QImage &overlay, const QRect &box, const QRect &whole)
{
    return (box.top() > whole.top() && !transparentRow(overlay, 0))
           || (box.bottom() < whole.bottom() && !transparentRow(overlay, overlay.height() - 1))
           || (box.left() > whole.left() && !transparentColumn(overlay, 0))
           || (box.right() < whole.right() && !transparentColumn(overlay, overlay.width() - 1));
}

QSize deviceSize(const QPainter &painter)
{
    return QSize(painter.device()->width(), painter.device()->height());
}

void drawInset(QPainter &painter, const QImage &secondary, int pictureWidth, int percentage, bool second)
{
    const QRect target = insetRect(pictureWidth, secondary.size(), percentage, second);
    if (target.isEmpty())
        return;
    painter.drawImage(target, secondary, secondary.rect());
}

} // namespace

QString watermarkText(const ConfigValues &settings, const QDateTime &now)
{
    return settings.watermarkTime ? now.toString(kTimeFormat) : settings.watermarkText;
}

QFont watermarkFont(const ConfigValues &settings)
{
    QFont font;
    font.setFamily(settings.watermarkFontFamily);
    font.setPointSize(settings.watermarkFontSize);
    font.setStyleName(settings.watermarkFontStyleName);
    font.setUnderline(settings.watermarkUnderline);
    font.setStrikeOut(settings.watermarkStrikeOut);
    return font;
}

QPoint watermarkShift(const QSize &pictureSize, const QSize &textSize, int xPercent, int yPercent)
{
    const double dx = (pictureSize.width() - textSize.width()) * (xPercent - kCentrePercent) / 100.0;
    const double dy = (pictureSize.height() - textSize.height()) * (yPercent - kCentrePercent) / 100.0;
    return QPoint(truncatedCoordinate(dx), truncatedCoordinate(dy));
}

QRect insetRect(int pictureWidth, const QSize &secondary, int percentage, bool second)
{
    if (secondary.width() <= 0 || secondary.height() <= 0)
        return {};
    const int width = truncatedCoordinate(pictureWidth * (percentage / 100.0));
    const int height = truncatedCoordinate(secondary.height() * (width / static_cast<double>(secondary.width())));
    if (width <= 0 || height <= 0)
        return {};
    return QRect(second ? pictureWidth - width : 0, 0, width, height);
}

QImage paintableCopy(const QImage &picture)
{
    switch (picture.format()) {
    case QImage::Format_Indexed8:
        if (picture.isGrayscale())
            return picture.convertToFormat(QImage::Format_Grayscale8);
        return picture.convertToFormat(picture.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
        return picture.convertToFormat(picture.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    default:
        return picture;
    }
}

void paintWatermark(QPainter &painter, const QString &text, const ConfigValues &settings)
{
    const QSize size = deviceSize(painter);
    const QRect whole(QPoint(0, 0), size);
    const WatermarkLayout layout = layoutWatermark(painter, size, text, settings);

    // Outside the text's box the full-size overlay is transparent and leaves
    // the picture as it is, so only the box is composed. The margin takes in
    // overhanging glyphs, accents, underline and anti-aliased edges.
    const QFontMetrics deviceMetrics(layout.font, painter.device());
    const int margin = deviceMetrics.height() + 2;
    const QRect box = deviceMetrics.boundingRect(whole, Qt::AlignCenter, text)
                          .translated(layout.shift)
                          .adjusted(-margin, -margin, margin, margin)
                      & whole;
    if (box.isEmpty()) {
        painter.setOpacity(layout.opacity);
        return;
    }
    QImage overlay(box.size(), QImage::Format_ARGB32);
    overlay.fill(kTransparentWhite);
    drawOverlayText(overlay, layout, box.topLeft(), size, text);
    // Ink reaching the box's edge inside the picture may go on beyond it
    // (a text of piled-up accents): then only the full overlay is right.
    if (inkOnInnerEdge(overlay, box, whole)) {
        paintWatermarkFullOverlay(painter, text, settings);
        return;
    }
    painter.setOpacity(layout.opacity);
    painter.drawImage(box, overlay, overlay.rect());
}

void paintWatermarkFullOverlay(QPainter &painter, const QString &text, const ConfigValues &settings)
{
    const QSize size = deviceSize(painter);
    const WatermarkLayout layout = layoutWatermark(painter, size, text, settings);
    QImage overlay(size, QImage::Format_ARGB32);
    overlay.fill(kTransparentWhite);
    drawOverlayText(overlay, layout, QPoint(0, 0), size, text);
    painter.setOpacity(layout.opacity);
    painter.drawImage(overlay.rect(), overlay, QRect(0, 0, overlay.width(), overlay.height()));
}

QImage paintPhoto(const QImage &picture, const ConfigValues &settings, const CaptureRequest &request,
                  bool pictureInPicture, const QDateTime &now)
{
    const QString text = watermarkText(settings, now);
    const bool insets = pictureInPicture && (request.firstPresent || request.secondPresent);
    if (picture.isNull() || (text.isEmpty() && !insets))
        return picture;

    QImage painted = paintableCopy(picture);
    QPainter painter;
    if (!painter.begin(&painted))
        return picture;
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (!text.isEmpty())
        paintWatermark(painter, text, settings);
    if (pictureInPicture) {
        painter.setOpacity(1.0);
        if (request.firstPresent)
            drawInset(painter, request.first, painted.width(), settings.paintingPercentage, false);
        if (request.secondPresent)
            drawInset(painter, request.second, painted.width(), settings.paintingPercentage, true);
    }
    painter.end();
    return painted;
}
