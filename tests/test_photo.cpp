#include "scenes/deskscene.h"
#include "engine/detection.h"
#include "engine/photo.h"
#include "engine/photonaming.h"
#include "engine/pipeline.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {

constexpr int kOutput1600x1200 = 7;

// Hands out running numbers as Config::takeNextNumber does, counting calls.
struct Numbers {
    int next = 1;
    int taken = 0;
    NumberSource source()
    {
        return [this] {
            ++taken;
            return next++;
        };
    }
};

ConfigValues photoSettings(const QString &directory)
{
    ConfigValues s = factorySettings();
    s.imageOutResolution = kOutput1600x1200;
    s.imageQuality = 90;
    s.watermarkFontFamily = QStringLiteral("DejaVu Sans");
    s.watermarkFontSize = 30;
    s.watermarkFontStyleName = QStringLiteral("Book");
    s.watermarkTransparency = 0;
    s.userDocumentsLocation = directory;
    return s;
}

// Three sheets of clearly different sizes, the middle one turned.
const std::vector<DeskSheet> kThreeSheets = {
    {{300, 480}, {300, 500}, 0.0f},
    {{800, 500}, {260, 420}, 12.0f},
    {{1300, 450}, {340, 380}, 0.0f},
};

cv::Mat threeSheetFrame()
{
    return drawDeskScene({1600, 1000}, kThreeSheets);
}

QStringList listing(const QString &directory)
{
    return QDir(directory).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

QString timedPhotoNameForTest(const QString &directory, const QDateTime &time)
{
    return QStringLiteral("%1/%2.jpg").arg(directory, time.toString(QStringLiteral("yyyy_MM_dd HH_mm_ss.zzz")));
}

QImage solid(const QSize &size, QRgb colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

bool near(QRgb a, QRgb b, int tolerance = 24)
{
    return qAbs(qRed(a) - qRed(b)) <= tolerance && qAbs(qGreen(a) - qGreen(b)) <= tolerance
           && qAbs(qBlue(a) - qBlue(b)) <= tolerance;
}

int darkPixels(const QImage &image, int below = 60)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qGray(image.pixel(x, y)) < below;
    return count;
}

} // namespace

class TestPhoto : public QObject {
    Q_OBJECT

    QTemporaryDir *m_dir = nullptr;
    QString m_work;

private slots:
    void init();
    void cleanup();

    void wholePictureIsScaledTurnedAndNumbered();
    void multipleModeCutsOutEverySheetInDetectorOrder();
    void multipleModeWithNothingInViewWritesNothing();
    void singleModeWithNothingInViewSaysSo();
    void secondaryPicturesAsFilesFollowTheMainPicture();
    void secondaryPicturesAsInsetsInEveryCutOut();
    void tiffSwitchOverridesTheCodec();
    void timeStampedNamesNeverClash();
    void takenNumbersAreSkipped();
    void failingWritesAreReportedNotListed_data();
    void failingWritesAreReportedNotListed();
    void missingWorkDirectoryIsCreated();
    void captureBeforeAnyFrame();
    void outOfRangeOutputSizeUsesTheFactorySize();
    void greyCutOutCarriesTheWatermark();
};

void TestPhoto::init()
{
    m_dir = new QTemporaryDir;
    m_work = m_dir->filePath(QStringLiteral("work"));
    QDir().mkpath(m_work);
}

void TestPhoto::cleanup()
{
    delete m_dir;
    m_dir = nullptr;
}

void TestPhoto::wholePictureIsScaledTurnedAndNumbered()
{
    // A red block in the top-left corner shows where the corner went.
    cv::Mat frame = drawDeskScene({800, 600}, {});
    frame(cv::Rect(0, 0, 100, 100)).setTo(cv::Scalar(0, 0, 255));
    PhotoOptions options;
    options.rotation = 1;
    Numbers numbers;
    numbers.next = 7;
    const PhotoResult result = capturePhotos(frame, options, {}, photoSettings(m_work), standardOutputSizes(),
                                             numbers.source());
    QCOMPARE(result.errors, QStringList());
    QCOMPARE(result.written, QList<QString>({m_work + QStringLiteral("/IMG_7.jpg")}));
    QCOMPARE(numbers.next, 8);
    const QImage written(result.written.first());
    // 800 x 600 fitted into 1600 x 1200, then a clockwise quarter turn.
    QCOMPARE(written.size(), QSize(1200, 1600));
    QVERIFY(near(written.pixel(1100, 100), qRgb(255, 0, 0)));
    QVERIFY(!near(written.pixel(100, 100), qRgb(255, 0, 0)));
    QCOMPARE(listing(m_work), QStringList({"IMG_7.jpg"}));
}

void TestPhoto::multipleModeCutsOutEverySheetInDetectorOrder()
{
    const cv::Mat frame = threeSheetFrame();
    const std::vector<cv::RotatedRect> rects = documentsForMode(detectDocuments(frame), kCorrectMultiple);
    QCOMPARE(rects.size(), size_t(3));
    PhotoOptions options;
    options.correctionMode = kCorrectMultiple;
    Numbers numbers;
    numbers.next = 20;
    const PhotoResult result = capturePhotos(frame, options, {}, photoSettings(m_work), standardOutputSizes(),
                                             numbers.source());
    QCOMPARE(result.errors, QStringList());
    QCOMPARE(result.written.size(), 3);
    QList<QSize> sheetSizes;
    for (const DeskSheet &sheet : kThreeSheets)
        sheetSizes << QSize(qRound(sheet.size.width), qRound(sheet.size.height));
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(result.written.at(i), m_work + QStringLiteral("/IMG_%1.jpg").arg(20 + i));
        const QImage cut(result.written.at(i));
        // Cut-outs keep the camera's scale: the size the detector saw, upright.
        QCOMPARE(cut.size(), QImage(cutOutDocument(frame, rects[size_t(i)], 0)).size());
        bool matchesASheet = false;
        for (const QSize &sheet : sheetSizes)
            matchesASheet |= qAbs(cut.width() - sheet.width()) <= 3 && qAbs(cut.height() - sheet.height()) <= 3;
        QVERIFY2(matchesASheet, qPrintable(QStringLiteral("%1x%2").arg(cut.width()).arg(cut.height())));
    }
    QCOMPARE(numbers.next, 23);
}

void TestPhoto::multipleModeWithNothingInViewWritesNothing()
{
    PhotoOptions options;
    options.correctionMode = kCorrectMultiple;
    Numbers numbers;
    const PhotoResult result = capturePhotos(drawDeskScene({800, 600}, {}), options, {}, photoSettings(m_work),
                                             standardOutputSizes(), numbers.source());
    QVERIFY(result.written.isEmpty());
    QVERIFY(result.errors.isEmpty());
    QCOMPARE(numbers.taken, 0);
    QCOMPARE(listing(m_work), QStringList());
}

void TestPhoto::singleModeWithNothingInViewSaysSo()
{
    PhotoOptions options;
    options.correctionMode = kCorrectSingle;
    Numbers numbers;
    const PhotoResult result = capturePhotos(drawDeskScene({800, 600}, {}), options, {}, photoSettings(m_work),
                                             standardOutputSizes(), numbers.source());
    QVERIFY(result.written.isEmpty());
    QCOMPARE(result.errors.size(), 1);
    QCOMPARE(numbers.taken, 0);
    QCOMPARE(listing(m_work), QStringList());
}

void TestPhoto::secondaryPicturesAsFilesFollowTheMainPicture()
{
    CaptureRequest request;
    request.first = solid({640, 480}, qRgb(255, 255, 255));
    request.second = solid({320, 240}, qRgb(255, 255, 255));
    request.firstPresent = true;
    request.secondPresent = true;
    ConfigValues settings = photoSettings(m_work);
    settings.watermarkText = QStringLiteral("HHH");
    Numbers numbers;
    const PhotoResult result = capturePhotos(drawDeskScene({800, 600}, {}), {}, request, settings,
                                             standardOutputSizes(), numbers.source());
    QCOMPARE(result.errors, QStringList());
    QCOMPARE(result.written,
             QList<QString>({m_work + "/IMG_1.jpg", m_work + "/IMG_2.jpg", m_work + "/IMG_3.jpg"}));
    QCOMPARE(QImage(result.written[0]).size(), QSize(1600, 1200));
    // Secondary pictures are neither scaled nor turned, but carry the watermark.
    const QImage first(result.written[1]);
    const QImage second(result.written[2]);
    QCOMPARE(first.size(), QSize(640, 480));
    QCOMPARE(second.size(), QSize(320, 240));
    QVERIFY(darkPixels(first) > 50);
    QVERIFY(darkPixels(second) > 50);
}

void TestPhoto::secondaryPicturesAsInsetsInEveryCutOut()
{
    CaptureRequest request;
    request.first = solid({640, 480}, qRgb(255, 0, 0));
    request.second = solid({640, 480}, qRgb(0, 0, 255));
    request.firstPresent = true;
    request.secondPresent = true;
    PhotoOptions options;
    options.pictureInPicture = true;
    Numbers numbers;
    PhotoResult result = capturePhotos(drawDeskScene({800, 600}, {}), options, request, photoSettings(m_work),
                                       standardOutputSizes(), numbers.source());
    QCOMPARE(result.written.size(), 1);
    const QImage whole(result.written.first());
    QCOMPARE(whole.size(), QSize(1600, 1200));
    // 30% of 1600 is 480 wide and 360 high, at (0, 0) and (1120, 0).
    QVERIFY(near(whole.pixel(4, 4), qRgb(255, 0, 0)));
    QVERIFY(near(whole.pixel(475, 355), qRgb(255, 0, 0)));
    QVERIFY(!near(whole.pixel(485, 365), qRgb(255, 0, 0)));
    QVERIFY(near(whole.pixel(1125, 4), qRgb(0, 0, 255)));
    QVERIFY(near(whole.pixel(1595, 355), qRgb(0, 0, 255)));
    QVERIFY(!near(whole.pixel(1115, 100), qRgb(0, 0, 255)));
    QVERIFY(!near(whole.pixel(1300, 365), qRgb(0, 0, 255)));

    options.correctionMode = kCorrectMultiple;
    result = capturePhotos(threeSheetFrame(), options, request, photoSettings(m_work), standardOutputSizes(),
                           numbers.source());
    QCOMPARE(result.written.size(), 3);
    for (const QString &path : result.written) {
        const QImage cut(path);
        QVERIFY(near(cut.pixel(3, 3), qRgb(255, 0, 0)));
        QVERIFY(near(cut.pixel(cut.width() - 4, 3), qRgb(0, 0, 255)));
    }
}

void TestPhoto::tiffSwitchOverridesTheCodec()
{
    PhotoOptions options;
    options.saveAsTiff = true;
    Numbers numbers;
    const PhotoResult result = capturePhotos(drawDeskScene({640, 480}, {}), options, {}, photoSettings(m_work),
                                             standardOutputSizes(), numbers.source());
    QCOMPARE(result.errors, QStringList());
    QCOMPARE(result.written, QList<QString>({m_work + QStringLiteral("/IMG_1.tiff")}));
    QFile file(result.written.first());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray magic = file.read(4);
    QVERIFY(magic == QByteArray("II*\0", 4) || magic == QByteArray("MM\0*", 4));
    const cv::Mat back = cv::imread(QFile::encodeName(result.written.first()).toStdString());
    QCOMPARE(back.cols, 1600);
    QCOMPARE(back.rows, 1200);
}

void TestPhoto::timeStampedNamesNeverClash()
{
    ConfigValues settings = photoSettings(m_work);
    settings.saveType = 1;
    CaptureRequest request;
    request.first = solid({16, 16}, qRgb(1, 2, 3));
    request.second = solid({16, 16}, qRgb(4, 5, 6));
    request.firstPresent = true;
    request.secondPresent = true;
    PhotoOptions options;
    options.correctionMode = kCorrectMultiple;
    Numbers numbers;
    const cv::Mat frame = threeSheetFrame();
    const QRegularExpression pattern(
        QStringLiteral("^\\d{4}_\\d\\d_\\d\\d \\d\\d_\\d\\d_\\d\\d\\.\\d{3}(_\\d+)?\\.jpg$"));
    QSet<QString> names;
    for (int round = 0; round < 2; ++round) {
        const PhotoResult result =
            capturePhotos(frame, options, request, settings, standardOutputSizes(), numbers.source());
        QCOMPARE(result.errors, QStringList());
        QCOMPARE(result.written.size(), 5);
        for (const QString &path : result.written) {
            QVERIFY2(pattern.match(QFileInfo(path).fileName()).hasMatch(), qPrintable(path));
            names.insert(path);
        }
    }
    QCOMPARE(names.size(), 10);
    QCOMPARE(numbers.taken, 0);

    // Another writer has taken every time stamp of a few seconds: a capture
    // inside them gets the stamp with "_2" and leaves the other files alone.
    // The taken window starts ahead of the clock, so it is complete before the
    // capture, however slowly the files are made.
    constexpr int kTakenMs = 5000;
    const QString taken = m_dir->filePath(QStringLiteral("taken"));
    settings.userDocumentsLocation = taken;
    qint64 leadMs = 1000;
    QDateTime windowStart;
    for (int attempt = 0;; ++attempt) {
        QVERIFY2(attempt < 4, "the taken time stamps were never ready before their window began");
        QVERIFY(QDir(taken).removeRecursively());
        QVERIFY(QDir().mkpath(taken));
        QElapsedTimer making;
        making.start();
        windowStart = QDateTime::currentDateTime().addMSecs(leadMs);
        for (int ms = 0; ms < kTakenMs; ++ms) {
            QFile file(timedPhotoNameForTest(taken, windowStart.addMSecs(ms)));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        if (QDateTime::currentDateTime() < windowStart)
            break;
        leadMs = 2 * making.elapsed();
    }
    while (QDateTime::currentDateTime() < windowStart)
        QThread::msleep(qMax<qint64>(1, QDateTime::currentDateTime().msecsTo(windowStart)));
    const PhotoResult result =
        capturePhotos(drawDeskScene({640, 480}, {}), {}, {}, settings, standardOutputSizes(), numbers.source());
    QCOMPARE(result.written.size(), 1);
    QVERIFY2(result.written.first().endsWith(QStringLiteral("_2.jpg")), qPrintable(result.written.first()));
    const QDateTime stamp = QDateTime::fromString(QFileInfo(result.written.first()).fileName().left(23),
                                                  QStringLiteral("yyyy_MM_dd HH_mm_ss.zzz"));
    QVERIFY2(stamp >= windowStart && stamp < windowStart.addMSecs(kTakenMs), qPrintable(result.written.first()));
    QVERIFY(QFileInfo(result.written.first()).size() > 0);
    const QStringList files = listing(taken);
    QCOMPARE(files.size(), kTakenMs + 1);
    for (const QString &name : files)
        if (taken + QLatin1Char('/') + name != result.written.first())
            QCOMPARE(QFileInfo(taken + QLatin1Char('/') + name).size(), qint64(0));
}

void TestPhoto::takenNumbersAreSkipped()
{
    // After save/number was reset, IMG_1 and IMG_2 exist already.
    for (const char *name : {"IMG_1.jpg", "IMG_2.jpg"}) {
        QFile file(m_work + QLatin1Char('/') + QLatin1String(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(name);
    }
    Numbers numbers;
    const PhotoResult result = capturePhotos(drawDeskScene({640, 480}, {}), {}, {}, photoSettings(m_work),
                                             standardOutputSizes(), numbers.source());
    QCOMPARE(result.written, QList<QString>({m_work + QStringLiteral("/IMG_3.jpg")}));
    QCOMPARE(numbers.next, 4);
    for (const char *name : {"IMG_1.jpg", "IMG_2.jpg"}) {
        QFile file(m_work + QLatin1Char('/') + QLatin1String(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray(name));
    }
}

void TestPhoto::failingWritesAreReportedNotListed_data()
{
    QTest::addColumn<QString>("codec");
    QTest::addColumn<bool>("workIsAFile");
    QTest::addColumn<bool>("emptySecondary");
    QTest::addColumn<int>("expectedWritten");
    QTest::newRow("work directory is a file") << "jpg" << true << false << 0;
    QTest::newRow("unknown format") << "xyz" << false << false << 0;
    QTest::newRow("empty codec") << "" << false << false << 0;
    QTest::newRow("secondary camera shows nothing yet") << "jpg" << false << true << 1;
}

void TestPhoto::failingWritesAreReportedNotListed()
{
    QFETCH(QString, codec);
    QFETCH(bool, workIsAFile);
    QFETCH(bool, emptySecondary);
    QFETCH(int, expectedWritten);
    QString work = m_work;
    if (workIsAFile) {
        work = m_dir->filePath(QStringLiteral("notafolder"));
        QFile file(work);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    ConfigValues settings = photoSettings(work);
    settings.imageCodec = codec;
    CaptureRequest request;
    request.firstPresent = emptySecondary;
    Numbers numbers;
    const PhotoResult result = capturePhotos(drawDeskScene({640, 480}, {}), {}, request, settings,
                                             standardOutputSizes(), numbers.source());
    QCOMPARE(result.written.size(), expectedWritten);
    QCOMPARE(result.errors.size(), 1);
    QVERIFY(!result.errors.first().isEmpty());
    QCOMPARE(numbers.taken, expectedWritten);
    QCOMPARE(listing(m_work).size(), expectedWritten);
}

void TestPhoto::missingWorkDirectoryIsCreated()
{
    const QString work = m_dir->filePath(QStringLiteral("gone/again"));
    Numbers numbers;
    const PhotoResult result = capturePhotos(drawDeskScene({640, 480}, {}), {}, {}, photoSettings(work),
                                             standardOutputSizes(), numbers.source());
    QCOMPARE(result.errors, QStringList());
    QCOMPARE(result.written, QList<QString>({work + QStringLiteral("/IMG_1.jpg")}));
    QVERIFY(QFileInfo(result.written.first()).isFile());
}

void TestPhoto::captureBeforeAnyFrame()
{
    CaptureRequest request;
    request.first = solid({64, 48}, qRgb(9, 9, 9));
    request.firstPresent = true;
    for (int mode : {kCorrectNone, kCorrectSingle, kCorrectMultiple}) {
        for (int type : {kShootColour, kShootGrey, kShootBlackWhite, kShootBackgroundRemoved}) {
            PhotoOptions options;
            options.correctionMode = mode;
            options.shootingType = type;
            Numbers numbers;
            const PhotoResult result = capturePhotos(cv::Mat(), options, request, photoSettings(m_work),
                                                     standardOutputSizes(), numbers.source());
            QVERIFY(result.written.isEmpty());
            QCOMPARE(result.errors, QStringList({QStringLiteral("还没有画面，无法拍照")}));
            QCOMPARE(numbers.taken, 0);
        }
    }
    QCOMPARE(listing(m_work), QStringList());
}

void TestPhoto::outOfRangeOutputSizeUsesTheFactorySize()
{
    ConfigValues settings = photoSettings(m_work);
    settings.imageOutResolution = 12;
    Numbers numbers;
    PhotoResult result = capturePhotos(drawDeskScene({640, 480}, {}), {}, {}, settings, standardOutputSizes(),
                                       numbers.source());
    QCOMPARE(result.written.size(), 1);
    QCOMPARE(QImage(result.written.first()).size(), QSize(3264, 2448));
    // No size list at all: the standard list stands in.
    settings.imageOutResolution = 11;
    result = capturePhotos(drawDeskScene({800, 600}, {}), {}, {}, settings, {}, numbers.source());
    QCOMPARE(result.written.size(), 1);
    QCOMPARE(QImage(result.written.first()).size(), QSize(640, 480));
}

void TestPhoto::greyCutOutCarriesTheWatermark()
{
    PhotoOptions options;
    options.correctionMode = kCorrectSingle;
    options.shootingType = kShootGrey;
    const cv::Mat frame = drawDeskScene({1000, 800}, {{{500, 400}, {500, 600}, 0.0f}});
    ConfigValues settings = photoSettings(m_work);
    Numbers numbers;
    const PhotoResult plain = capturePhotos(frame, options, {}, settings, standardOutputSizes(), numbers.source());
    settings.watermarkText = QStringLiteral("WWWWW");
    settings.watermarkFontSize = 40;
    const PhotoResult marked = capturePhotos(frame, options, {}, settings, standardOutputSizes(), numbers.source());
    QCOMPARE(plain.written.size(), 1);
    QCOMPARE(marked.written.size(), 1);
    const QImage before(plain.written.first());
    const QImage after(marked.written.first());
    QVERIFY(before.isGrayscale());
    QVERIFY(after.isGrayscale());
    QCOMPARE(after.size(), before.size());
    // The printed lines are dark grey, the watermark black and large.
    const QRect middle(after.width() / 2 - 40, after.height() / 2 - 20, 80, 40);
    QVERIFY(darkPixels(after.copy(middle), 30) > darkPixels(before.copy(middle), 30) + 200);
}

QTEST_MAIN(TestPhoto)
#include "test_photo.moc"
