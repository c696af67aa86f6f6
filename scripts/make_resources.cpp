// Draws the pictures that vorlant loads from Resources/ beside its executable,
// so that no binary picture has to live in the repository. Every file goes
// through QSaveFile: an interrupted build never leaves a torn PNG in place.
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QSaveFile>
#include <QStringList>
#include <QtMath>

#include <cmath>
#include <cstdio>
#include <functional>

namespace {

const QColor kInk(0x33, 0x3d, 0x4a);
const QColor kAccent(0x12, 0x8c, 0x7e);
const QColor kPaper(0xff, 0xff, 0xff);
const QColor kFaint(0xb9, 0xc1, 0xca);
const QColor kPlaceholderGround(0xe8, 0xeb, 0xee);

// One stroke width for every 32-pixel icon keeps the set looking like a family.
constexpr qreal kIconStroke = 2.0;

QString g_fontFamily;

// Prefers a font that is known to be installed with the program's packages;
// any other sans family will do, and without fonts the pictures lose only their lettering.
QString pickFontFamily()
{
    const QStringList installed = QFontDatabase().families();
    for (const QString &wanted : {QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"),
                                  QStringLiteral("Noto Sans"), QStringLiteral("FreeSans")}) {
        if (installed.contains(wanted))
            return wanted;
    }
    if (installed.isEmpty())
        return QString();
    const QString general = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    return installed.contains(general) ? general : installed.first();
}

QFont boldFont(qreal pixelSize)
{
    QFont font(g_fontFamily);
    font.setPixelSize(qMax(1, qRound(pixelSize)));
    font.setBold(true);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

// Writes text centred in the box, shrinking the font until the text fits.
void drawFittedText(QPainter &p, const QRectF &box, const QString &text, qreal pixelSize, const QColor &colour)
{
    if (g_fontFamily.isEmpty())
        return;
    QFont font = boldFont(pixelSize);
    while (font.pixelSize() > 4 && QFontMetricsF(font).horizontalAdvance(text) > box.width())
        font.setPixelSize(font.pixelSize() - 1);
    p.setFont(font);
    p.setPen(colour);
    p.drawText(box, Qt::AlignCenter, text);
}

QPen inkPen(qreal width = kIconStroke, const QColor &colour = kInk)
{
    QPen pen(colour, width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

QPointF onCircle(const QPointF &centre, qreal radius, qreal degrees)
{
    const qreal a = qDegreesToRadians(degrees);
    return centre + QPointF(radius * qCos(a), -radius * qSin(a));
}

// An arc from startDeg sweeping sweepDeg (positive: anticlockwise on screen)
// with a filled arrow head at its end pointing along the direction of travel.
void drawArcArrow(QPainter &p, const QPointF &centre, qreal radius, qreal startDeg, qreal sweepDeg, qreal headSize)
{
    const QRectF circle(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    // The stroke stops a little short so its round cap does not poke through the head.
    const qreal trim = qRadiansToDegrees(headSize * 0.45 / radius) * (sweepDeg < 0 ? -1 : 1);
    QPainterPath arc;
    arc.arcMoveTo(circle, startDeg);
    arc.arcTo(circle, startDeg, sweepDeg - trim);
    p.setPen(inkPen());
    p.setBrush(Qt::NoBrush);
    p.drawPath(arc);

    const qreal endDeg = startDeg + sweepDeg;
    const QPointF end = onCircle(centre, radius, endDeg);
    const qreal a = qDegreesToRadians(endDeg);
    QPointF tangent(-qSin(a), -qCos(a));
    if (sweepDeg < 0)
        tangent = -tangent;
    const QPointF normal(-tangent.y(), tangent.x());
    QPolygonF head;
    head << end + tangent * headSize * 0.75 << end - tangent * headSize * 0.35 + normal * headSize * 0.7
         << end - tangent * headSize * 0.35 - normal * headSize * 0.7;
    p.setPen(inkPen(1.0));
    p.setBrush(kInk);
    p.drawPolygon(head);
}

// The small upright sheet in the middle of the rotation icons; its folded
// corner shows which way up it is.
void drawCentreSheet(QPainter &p, const QPointF &centre)
{
    const QRectF r(centre.x() - 4, centre.y() - 5, 8, 10);
    QPainterPath sheet;
    sheet.moveTo(r.topLeft());
    sheet.lineTo(r.right() - 3, r.top());
    sheet.lineTo(r.right(), r.top() + 3);
    sheet.lineTo(r.bottomRight());
    sheet.lineTo(r.bottomLeft());
    sheet.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawPath(sheet);
}

void drawTurnLeft(QPainter &p)
{
    const QPointF centre(16, 16.5);
    drawArcArrow(p, centre, 11, -135, 240, 7);
    drawCentreSheet(p, centre);
}

void drawTurnRight(QPainter &p)
{
    p.translate(32, 0);
    p.scale(-1, 1);
    drawTurnLeft(p);
}

void drawHalfTurn(QPainter &p)
{
    const QPointF centre(16, 16);
    drawArcArrow(p, centre, 11, 165, -125, 7);
    drawArcArrow(p, centre, 11, -15, -125, 7);
    drawCentreSheet(p, centre);
}

// A camera body outline shared by the capture and switch icons.
QPainterPath cameraBody(const QRectF &body, qreal bumpWidth, qreal bumpHeight)
{
    QPainterPath path;
    path.addRoundedRect(body, 3, 3);
    QPainterPath bump;
    const qreal cx = body.center().x();
    bump.moveTo(cx - bumpWidth / 2 - 2, body.top() + 1);
    bump.lineTo(cx - bumpWidth / 2, body.top() - bumpHeight);
    bump.lineTo(cx + bumpWidth / 2, body.top() - bumpHeight);
    bump.lineTo(cx + bumpWidth / 2 + 2, body.top() + 1);
    bump.closeSubpath();
    return path.united(bump);
}

void drawSwitchCamera(QPainter &p)
{
    p.setPen(inkPen());
    p.setBrush(Qt::NoBrush);
    p.drawPath(cameraBody(QRectF(3, 9, 26, 18), 8, 3.5));

    // Two opposed arrows inside the body: the picture comes from the other camera.
    p.setPen(inkPen(kIconStroke, kAccent));
    p.drawLine(QPointF(10, 15), QPointF(21, 15));
    p.drawLine(QPointF(11, 21), QPointF(22, 21));
    p.setPen(inkPen(1.0, kAccent));
    p.setBrush(kAccent);
    p.drawPolygon(QPolygonF({QPointF(24, 15), QPointF(19.5, 11.8), QPointF(19.5, 18.2)}));
    p.drawPolygon(QPolygonF({QPointF(8, 21), QPointF(12.5, 17.8), QPointF(12.5, 24.2)}));
}

void drawWebcam(QPainter &p)
{
    const QPointF centre(16, 13);
    p.setPen(inkPen());
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(centre, 9.5, 9.5);
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawEllipse(centre, 4, 4);
    p.setBrush(kPaper);
    p.drawEllipse(centre + QPointF(-1.3, -1.3), 1.2, 1.2);

    p.setPen(inkPen());
    p.drawLine(QPointF(16, 22.5), QPointF(16, 26));
    p.setPen(inkPen(3.0));
    p.drawLine(QPointF(10, 27.5), QPointF(22, 27.5));
}

void drawRecordVideo(QPainter &p)
{
    p.setPen(inkPen());
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(3, 9, 19, 15), 3, 3);
    QPainterPath lens;
    lens.moveTo(22, 14);
    lens.lineTo(29, 10);
    lens.lineTo(29, 23);
    lens.lineTo(22, 19);
    p.drawPath(lens);
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawEllipse(QPointF(9, 16.5), 3, 3);
}

void drawTimedShooting(QPainter &p)
{
    const QPointF centre(16, 18);
    p.setPen(inkPen());
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(centre, 10, 10);
    p.drawLine(QPointF(16, 8), QPointF(16, 5.5));
    p.drawLine(QPointF(13, 4), QPointF(19, 4));
    p.drawLine(onCircle(centre, 10.5, 45), onCircle(centre, 13, 45));

    p.setPen(inkPen(kIconStroke, kAccent));
    p.drawLine(centre, QPointF(16, 11.5));
    p.drawLine(centre, QPointF(20.5, 20.5));
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawEllipse(centre, 1.8, 1.8);
}

void drawSettings(QPainter &p)
{
    const QPointF centre(16, 16);
    constexpr int kTeeth = 8;
    constexpr qreal kOuter = 13;
    constexpr qreal kInner = 9.5;
    constexpr qreal kToothHalf = 11; // degrees, half the width of a tooth at its tip
    constexpr qreal kRootHalf = 16;  // degrees, half the width of a tooth at its root
    QPainterPath gear;
    for (int i = 0; i < kTeeth; ++i) {
        const qreal mid = i * 360.0 / kTeeth + 90;
        const QPointF a = onCircle(centre, kInner, mid - kRootHalf);
        if (i == 0)
            gear.moveTo(a);
        else
            gear.lineTo(a);
        gear.lineTo(onCircle(centre, kOuter, mid - kToothHalf));
        gear.lineTo(onCircle(centre, kOuter, mid + kToothHalf));
        gear.lineTo(onCircle(centre, kInner, mid + kRootHalf));
        gear.lineTo(onCircle(centre, kInner, mid + 360.0 / kTeeth - kRootHalf));
    }
    gear.closeSubpath();
    p.setPen(inkPen());
    p.setBrush(Qt::NoBrush);
    p.drawPath(gear);
    p.setPen(inkPen(kIconStroke, kAccent));
    p.drawEllipse(centre, 4, 4);
}

void drawTakePhoto(QPainter &p)
{
    p.setPen(inkPen());
    p.setBrush(Qt::NoBrush);
    p.drawPath(cameraBody(QRectF(3, 9, 26, 18), 10, 4));
    const QPointF lens(16, 18);
    p.drawEllipse(lens, 6, 6);
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawEllipse(lens, 3.5, 3.5);
    p.setBrush(kInk);
    p.drawEllipse(QPointF(24.5, 13), 1.2, 1.2);
}

// A faint framed landscape: "nothing here yet" without drawing attention.
void drawEmptyThumbnail(QPainter &p)
{
    p.fillRect(QRectF(0, 0, 90, 90), kPlaceholderGround);
    const QColor glyph(0xc8, 0xce, 0xd5);
    p.setPen(inkPen(3.0, glyph));
    p.setBrush(Qt::NoBrush);
    const QRectF frame(25, 29, 40, 32);
    p.drawRoundedRect(frame, 3, 3);
    QPainterPath hills;
    hills.moveTo(frame.left() + 2, frame.bottom() - 2);
    hills.lineTo(40, 45);
    hills.lineTo(48, 52);
    hills.lineTo(54, 47);
    hills.lineTo(frame.right() - 2, frame.bottom() - 2);
    hills.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(glyph);
    p.drawPath(hills);
    p.drawEllipse(QPointF(55, 38), 3.5, 3.5);
}

// A page with a folded corner and a coloured label, drawn in a 48 x 48 box.
void drawDocumentIcon(QPainter &p, const QString &label)
{
    const QRectF page(9, 3, 30, 42);
    constexpr qreal kFold = 9;
    QPainterPath outline;
    outline.moveTo(page.topLeft());
    outline.lineTo(page.right() - kFold, page.top());
    outline.lineTo(page.right(), page.top() + kFold);
    outline.lineTo(page.bottomRight());
    outline.lineTo(page.bottomLeft());
    outline.closeSubpath();
    p.setPen(inkPen(1.5));
    p.setBrush(kPaper);
    p.drawPath(outline);
    QPainterPath fold;
    fold.moveTo(page.right() - kFold, page.top());
    fold.lineTo(page.right() - kFold, page.top() + kFold);
    fold.lineTo(page.right(), page.top() + kFold);
    p.drawPath(fold);

    p.setPen(inkPen(1.5, kFaint));
    for (qreal y : {12.0, 16.5})
        p.drawLine(QPointF(page.left() + 4, y), QPointF(page.right() - kFold - 2, y));
    p.drawLine(QPointF(page.left() + 4, 38), QPointF(page.right() - 4, 38));

    const QRectF band(4, 21, 32, 13);
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawRoundedRect(band, 2, 2);
    drawFittedText(p, band.adjusted(1, 0, -1, 0), label, 10, kPaper);
}

void drawPdfIcon(QPainter &p)
{
    drawDocumentIcon(p, QStringLiteral("PDF"));
}

// Twice the size of the PDF icon: it is stretched over the thumbnail rather than centred.
void drawTiffIcon(QPainter &p)
{
    p.scale(2, 2);
    drawDocumentIcon(p, QStringLiteral("TIFF"));
}

void drawVideoIcon(QPainter &p)
{
    const QRectF strip(5, 8, 38, 32);
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawRoundedRect(strip, 3, 3);
    p.setBrush(kPaper);
    for (int i = 0; i < 6; ++i) {
        const qreal x = strip.left() + 3 + i * 5.8;
        p.drawRoundedRect(QRectF(x, strip.top() + 2.5, 3, 3), 0.8, 0.8);
        p.drawRoundedRect(QRectF(x, strip.bottom() - 5.5, 3, 3), 0.8, 0.8);
    }
    const QRectF window(strip.left() + 3, strip.top() + 8, strip.width() - 6, strip.height() - 16);
    p.drawRect(window);
    p.setBrush(kAccent);
    const QPointF c = window.center();
    p.drawPolygon(QPolygonF({c + QPointF(-4, -5.5), c + QPointF(6, 0), c + QPointF(-4, 5.5)}));
}

// An overhead document camera over a sheet, then the name. Sized to sit
// unscaled inside the main window's 230 x 79 logo label with its 5-pixel margin.
void drawLogo(QPainter &p)
{
    const QSizeF size(220, 69);
    p.fillRect(QRectF(QPointF(0, 0), size), kPaper);

    // The sheet lies on the base in perspective; the light falls on it from the head.
    const QPointF headLeft(31, 17), headRight(45, 17);
    QColor light = kAccent;
    light.setAlpha(45);
    p.setPen(Qt::NoPen);
    p.setBrush(light);
    p.drawPolygon(QPolygonF({headLeft, headRight, QPointF(56, 50), QPointF(20, 50)}));

    p.setBrush(kInk);
    p.drawRoundedRect(QRectF(4, 58, 62, 5), 2, 2);
    p.setPen(inkPen(1.5));
    p.setBrush(kPaper);
    p.drawPolygon(QPolygonF({QPointF(22, 47), QPointF(56, 47), QPointF(62, 55.5), QPointF(16, 55.5)}));
    p.setPen(inkPen(1.5, kFaint));
    p.drawLine(QPointF(25, 50.5), QPointF(50, 50.5));
    p.drawLine(QPointF(23, 53), QPointF(45, 53));

    // Stand: an upright at the back of the base and an arm reaching over the sheet.
    p.setPen(inkPen(3.5));
    p.setBrush(Qt::NoBrush);
    QPainterPath stand;
    stand.moveTo(10, 58);
    stand.lineTo(10, 14);
    stand.quadTo(10, 10, 14, 10);
    stand.lineTo(32, 10);
    p.drawPath(stand);
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawRoundedRect(QRectF(28, 6.5, 20, 11), 3, 3);
    p.setBrush(kPaper);
    p.drawEllipse(QPointF(38, 15.5), 3.5, 1.5);

    drawFittedText(p, QRectF(72, 4, 144, 61), QStringLiteral("vorlant"), 40, kInk);
}

// The desktop icon: the logo's camera stand alone, on a rounded square.
void drawAppIcon(QPainter &p)
{
    p.setPen(inkPen(6, kAccent));
    p.setBrush(kPaper);
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 40, 40);
    // The stand occupies the logo's first 68 x 66 pixels.
    const qreal scale = 3.0;
    p.translate(128 - 34 * scale, 128 - 35 * scale);
    p.scale(scale, scale);
    p.setClipRect(QRectF(0, 0, 68, 66));
    drawLogo(p);
}

struct Picture {
    const char *path;
    QSize size;
    std::function<void(QPainter &)> draw;
};

const QList<Picture> &pictures()
{
    const QSize icon(32, 32);
    static const QList<Picture> list = {
        {"vorlant.png", QSize(220, 69), drawLogo},
        {"back/Picture_90.png", QSize(90, 90), drawEmptyThumbnail},
        {"pdf.png", QSize(48, 48), drawPdfIcon},
        {"tiff.png", QSize(96, 96), drawTiffIcon},
        {"recored.png", QSize(48, 48), drawVideoIcon},
        {"icon/icon_oleft.png", icon, drawTurnLeft},
        {"icon/icon_oright.png", icon, drawTurnRight},
        {"icon/icon_sync.png", icon, drawHalfTurn},
        {"icon/icon_toggle_16.png", icon, drawSwitchCamera},
        {"icon/icon_webcam.png", icon, drawWebcam},
        {"icon/icon_video_32_line.png", icon, drawRecordVideo},
        {"icon/icon_snap_clock.png", icon, drawTimedShooting},
        {"icon/icon_setting_32.png", icon, drawSettings},
        {"icon/icon_snap_32.png", icon, drawTakePhoto},
        {"vorlant-256.png", QSize(256, 256), drawAppIcon},
    };
    return list;
}

// The shutter click: two short bursts of decaying noise (the blind opening
// and closing), as 16-bit mono PCM in a RIFF WAVE file.
constexpr int kSoundRate = 22050;
constexpr double kSoundSeconds = 0.16;

QByteArray shutterWave()
{
    const int samples = static_cast<int>(kSoundRate * kSoundSeconds);
    QByteArray pcm;
    pcm.reserve(samples * 2);
    quint32 noise = 0x2545f491u; // fixed seed: every build makes the same file
    double low = 0;
    for (int i = 0; i < samples; ++i) {
        const double t = double(i) / kSoundRate;
        noise = noise * 1664525u + 1013904223u;
        const double white = double(noise >> 8) / double(1u << 24) * 2.0 - 1.0;
        low += 0.35 * (white - low); // soften the hiss into a click
        const double first = std::exp(-t / 0.012);
        const double second = t >= 0.075 ? 0.7 * std::exp(-(t - 0.075) / 0.015) : 0.0;
        const double value = qBound(-1.0, low * 1.8 * (first + second), 1.0);
        const qint16 sample = static_cast<qint16>(value * 32000);
        pcm.append(char(sample & 0xff)).append(char((sample >> 8) & 0xff));
    }
    auto le32 = [](quint32 v) {
        QByteArray b(4, 0);
        for (int k = 0; k < 4; ++k)
            b[k] = char((v >> (8 * k)) & 0xff);
        return b;
    };
    auto le16 = [](quint16 v) { return QByteArray(1, char(v & 0xff)) + QByteArray(1, char(v >> 8)); };
    QByteArray wav = "RIFF" + le32(36 + pcm.size()) + "WAVEfmt " + le32(16) + le16(1) + le16(1) + le32(kSoundRate) +
                     le32(kSoundRate * 2) + le16(2) + le16(16) + "data" + le32(pcm.size());
    return wav + pcm;
}

bool writeSound(const QDir &outDir, const char *name)
{
    const QString path = outDir.filePath(QString::fromLatin1(name));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(shutterWave()) < 0 || !file.commit()) {
        std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(path), qPrintable(file.errorString()));
        return false;
    }
    return true;
}

bool writePicture(const QDir &outDir, const Picture &picture)
{
    const QString path = outDir.filePath(QString::fromLatin1(picture.path));
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        std::fprintf(stderr, "cannot create the folder for %s\n", qPrintable(path));
        return false;
    }
    QImage image(picture.size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
        picture.draw(painter);
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit()) {
        std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(path), qPrintable(file.errorString()));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    // Drawing needs no display; a build machine usually has none.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    g_fontFamily = pickFontFamily();
    if (g_fontFamily.isEmpty())
        std::fprintf(stderr, "no font is installed: the pictures are drawn without lettering\n");

    const QDir outDir(QString::fromLocal8Bit(argv[1]));
    bool ok = true;
    for (const Picture &picture : pictures())
        ok = writePicture(outDir, picture) && ok;
    ok = writeSound(outDir, "shutter.wav") && ok;
    return ok ? 0 : 1;
}
