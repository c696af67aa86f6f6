#include "engine/watermark.h"

#include <QFontMetrics>
#include <QtTest>

namespace {

const QString kFontFamily = QStringLiteral("DejaVu Sans");
const QRgb kGreyBackground = qRgb(128, 128, 128);

ConfigValues watermarkSettings(const QString &text)
{
    ConfigValues s = factorySettings();
    s.watermarkText = text;
    s.watermarkFontFamily = kFontFamily;
    s.watermarkFontSize = 20;
    s.watermarkFontStyleName = QStringLiteral("Book");
    s.watermarkTransparency = 0;
    return s;
}

QImage plain(const QSize &size, QRgb colour = kGreyBackground, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(size, format);
    image.fill(colour);
    return image;
}

// The rectangle holding every pixel that differs from the background.
QRect inkBox(const QImage &image, QRgb background = kGreyBackground)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != background)
                box |= QRect(x, y, 1, 1);
    return box;
}

int darkestGrey(const QImage &image)
{
    int darkest = 255;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            darkest = std::min(darkest, qGray(image.pixel(x, y)));
    return darkest;
}

QImage paintedBothWays(const QImage &picture, const ConfigValues &s, bool full)
{
    QImage out = picture;
    QPainter painter(&out);
    painter.setRenderHint(QPainter::Antialiasing, true);
    if (full)
        paintWatermarkFullOverlay(painter, watermarkText(s, QDateTime::currentDateTime()), s);
    else
        paintWatermark(painter, watermarkText(s, QDateTime::currentDateTime()), s);
    return out;
}

} // namespace

class TestWatermark : public QObject {
    Q_OBJECT

private slots:
    void timeTakesPrecedenceOverText();
    void noTextMeansNoWatermarkButInsetsStill();
    void centredAtFiftyFifty();
    void shiftFollowsThePosition();
    void leftEdgeAtZero();
    void transparencySetsOpacity();
    void insetGeometry();
    void insetsCoverTheWatermark();
    void boxOverlayMatchesFullOverlay_data();
    void boxOverlayMatchesFullOverlay();
    void indexedGreyPictureIsPaintedAndStaysGrey();
};

void TestWatermark::timeTakesPrecedenceOverText()
{
    ConfigValues s = watermarkSettings(QStringLiteral("ACME"));
    const QDateTime now(QDate(2021, 3, 9), QTime(14, 5, 31, 42));
    QCOMPARE(watermarkText(s, now), QStringLiteral("ACME"));
    s.watermarkTime = true;
    QCOMPARE(watermarkText(s, now), QStringLiteral("2021-03-09 14:05:31"));
    s.watermarkText.clear();
    QCOMPARE(watermarkText(s, now), QStringLiteral("2021-03-09 14:05:31"));
    s.watermarkTime = false;
    QVERIFY(watermarkText(s, now).isEmpty());
}

void TestWatermark::noTextMeansNoWatermarkButInsetsStill()
{
    const ConfigValues s = watermarkSettings(QString());
    const QImage picture = plain({400, 300});
    QCOMPARE(paintPhoto(picture, s, {}, true, QDateTime::currentDateTime()), picture);

    CaptureRequest request;
    request.first = plain({100, 50}, qRgb(255, 0, 0));
    request.firstPresent = true;
    const QImage painted = paintPhoto(picture, s, request, true, QDateTime::currentDateTime());
    QCOMPARE(inkBox(painted), QRect(0, 0, 120, 60));
}

void TestWatermark::centredAtFiftyFifty()
{
    const ConfigValues s = watermarkSettings(QStringLiteral("HHHH"));
    const QImage painted = paintPhoto(plain({600, 400}), s, {}, false, QDateTime::currentDateTime());
    const QRect ink = inkBox(painted);
    QVERIFY(!ink.isEmpty());
    // "H" has no side bearing worth speaking of: the ink is centred within a pixel or two.
    QVERIFY2(qAbs(ink.center().x() - 300) <= 2, qPrintable(QString::number(ink.center().x())));
    QVERIFY2(qAbs(ink.center().y() - 200) <= 3, qPrintable(QString::number(ink.center().y())));
}

void TestWatermark::shiftFollowsThePosition()
{
    // 1000 wide, 200 wide text, x = 0: the text moves by -400.
    QCOMPARE(watermarkShift({1000, 500}, {200, 40}, 0, 50), QPoint(-400, 0));
    QCOMPARE(watermarkShift({1000, 500}, {200, 40}, 100, 100), QPoint(400, 230));
    // Truncated toward zero on both sides: 333 * 0.25 = 83.25, 333 * -0.25 = -83.25.
    QCOMPARE(watermarkShift({533, 100}, {200, 100}, 75, 50), QPoint(83, 0));
    QCOMPARE(watermarkShift({533, 100}, {200, 100}, 25, 50), QPoint(-83, 0));
    // Far outside the range stays defined (and off the picture).
    QVERIFY(watermarkShift({5000, 5000}, {10, 10}, INT_MAX, INT_MIN).x() > 5000);
}

void TestWatermark::leftEdgeAtZero()
{
    ConfigValues s = watermarkSettings(QStringLiteral("HHHH"));
    s.watermarkX = 0;
    s.watermarkY = 0;
    const QImage painted = paintPhoto(plain({800, 300}), s, {}, false, QDateTime::currentDateTime());
    const QRect ink = inkBox(painted);
    const QRect measured = QFontMetrics(watermarkFont(s)).boundingRect(s.watermarkText);
    // The measured box starts at the picture's corner; the ink starts within
    // the glyph's side bearing of it.
    QVERIFY2(ink.left() >= 0 && ink.left() <= 1 + measured.width() / 8, qPrintable(QString::number(ink.left())));
    QVERIFY2(ink.top() >= 0 && ink.top() <= measured.height() / 2, qPrintable(QString::number(ink.top())));
    s.watermarkX = 100;
    const QRect right = inkBox(paintPhoto(plain({800, 300}), s, {}, false, QDateTime::currentDateTime()));
    QVERIFY2(right.right() <= 799 && right.right() >= 799 - measured.width() / 8,
             qPrintable(QString::number(right.right())));
}

void TestWatermark::transparencySetsOpacity()
{
    ConfigValues s = watermarkSettings(QStringLiteral("HHHH"));
    s.watermarkFontSize = 40;
    const QImage white = plain({500, 200}, qRgb(255, 255, 255));
    const QDateTime now = QDateTime::currentDateTime();
    s.watermarkTransparency = 0;
    QCOMPARE(darkestGrey(paintPhoto(white, s, {}, false, now)), 0);
    s.watermarkTransparency = 50;
    const int half = darkestGrey(paintPhoto(white, s, {}, false, now));
    QVERIFY2(half >= 125 && half <= 130, qPrintable(QString::number(half)));
    s.watermarkTransparency = 100;
    QCOMPARE(paintPhoto(white, s, {}, false, now), white);
    s.watermarkTransparency = 150;
    QCOMPARE(darkestGrey(paintPhoto(white, s, {}, false, now)), 255);
}

void TestWatermark::insetGeometry()
{
    QCOMPARE(insetRect(1600, {640, 480}, 30, false), QRect(0, 0, 480, 360));
    QCOMPARE(insetRect(1600, {640, 480}, 30, true), QRect(1120, 0, 480, 360));
    // Truncation: 1000 * 0.33 = 330, 330 / 3 * 1 = 110; 333 * (330 / 1000.0) = 109.89 -> 109.
    QCOMPARE(insetRect(1000, {300, 100}, 33, false), QRect(0, 0, 330, 110));
    QCOMPARE(insetRect(1000, {1000, 333}, 33, false), QRect(0, 0, 330, 109));
    QVERIFY(insetRect(1000, {0, 0}, 30, false).isEmpty());
    QVERIFY(insetRect(1000, {640, 480}, 0, true).isEmpty());
}

void TestWatermark::insetsCoverTheWatermark()
{
    ConfigValues s = watermarkSettings(QStringLiteral("HHHHHHHH"));
    s.watermarkX = 0;
    s.watermarkY = 0;
    s.paintingPercentage = 50;
    CaptureRequest request;
    request.first = plain({64, 48}, qRgb(255, 0, 0));
    request.second = plain({64, 48}, qRgb(0, 0, 255));
    request.firstPresent = true;
    request.secondPresent = true;
    const QImage painted = paintPhoto(plain({400, 400}), s, request, true, QDateTime::currentDateTime());
    QCOMPARE(painted.pixel(0, 0), qRgb(255, 0, 0));
    QCOMPARE(painted.pixel(199, 149), qRgb(255, 0, 0));
    QCOMPARE(painted.pixel(200, 0), qRgb(0, 0, 255));
    QCOMPARE(painted.pixel(399, 149), qRgb(0, 0, 255));
    QCOMPARE(painted.pixel(200, 150), kGreyBackground);
    // Without the switch the same request paints no inset.
    QCOMPARE(paintPhoto(plain({400, 400}), s, request, false, {}).pixel(399, 149), kGreyBackground);
}

void TestWatermark::boxOverlayMatchesFullOverlay_data()
{
    QTest::addColumn<QImage>("picture");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("transparency");
    QTest::addColumn<QString>("style");
    QTest::addColumn<bool>("underline");

    const QImage rgb32 = plain({640, 360}, qRgb(90, 120, 150));
    const QImage rgb888 = plain({641, 359}, qRgb(200, 10, 30), QImage::Format_RGB888);
    QImage grey = plain({500, 300}, qRgb(60, 60, 60)).convertToFormat(QImage::Format_Grayscale8);
    QTest::newRow("centre") << rgb32 << "2024-01-31 23:59:59" << 50 << 50 << 50 << "Book" << false;
    QTest::newRow("corner, opaque, underlined") << rgb32 << "Wasserzeichen" << 0 << 100 << 0 << "Bold" << true;
    QTest::newRow("past the edge") << rgb888 << "OFF THE EDGE" << 130 << -10 << 30 << "Oblique" << false;
    QTest::newRow("two lines") << rgb888 << "line one\nline two" << 20 << 80 << 70 << "Book" << true;
    QTest::newRow("grey picture") << grey << "灰度 水印" << 60 << 40 << 10 << "Book" << false;
    // Accents above the line and slanted glyphs reach past the laid-out box.
    QTest::newRow("overhanging glyphs") << rgb32 << QString::fromUtf8("ÅÉÎ ƒjʄ ŷ̂̂ fff") << 50 << 0 << 0 << "Bold Oblique"
                                        << false;
    QTest::newRow("piled-up accents") << rgb32 << (QStringLiteral("e") + QString(14, QChar(0x0302)) + QStringLiteral("x"))
                                      << 50 << 50 << 0 << "Book" << false;
    QTest::newRow("larger than the picture") << rgb32 << QString(200, QLatin1Char('W')) << 50 << 50 << 0 << "Book"
                                             << false;
}

void TestWatermark::boxOverlayMatchesFullOverlay()
{
    QFETCH(QImage, picture);
    QFETCH(QString, text);
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, transparency);
    QFETCH(QString, style);
    QFETCH(bool, underline);
    ConfigValues s = watermarkSettings(text);
    s.watermarkX = x;
    s.watermarkY = y;
    s.watermarkTransparency = transparency;
    s.watermarkFontStyleName = style;
    s.watermarkUnderline = underline;
    s.watermarkStrikeOut = underline;
    s.watermarkColor = QStringLiteral("c0ff2060");
    s.watermarkFontSize = 36;
    const QImage fast = paintedBothWays(picture, s, false);
    const QImage full = paintedBothWays(picture, s, true);
    QVERIFY(fast != picture);
    QCOMPARE(fast, full);
}

void TestWatermark::indexedGreyPictureIsPaintedAndStaysGrey()
{
    QImage indexed(300, 200, QImage::Format_Indexed8);
    QVector<QRgb> table;
    for (int i = 0; i < 256; ++i)
        table << qRgb(i, i, i);
    indexed.setColorTable(table);
    indexed.fill(200);
    ConfigValues s = watermarkSettings(QStringLiteral("HHH"));
    s.watermarkColor = QStringLiteral("ffff0000");
    const QImage painted = paintPhoto(indexed, s, {}, false, QDateTime::currentDateTime());
    QCOMPARE(painted.format(), QImage::Format_Grayscale8);
    QVERIFY(!inkBox(painted, qRgb(200, 200, 200)).isEmpty());
    // Red on grey: the ink keeps red's grey value.
    QCOMPARE(darkestGrey(painted), qGray(255, 0, 0));
}

QTEST_MAIN(TestWatermark)
#include "test_watermark.moc"
