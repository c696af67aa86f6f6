#include "scenes/deskscene.h"
#include "engine/photo.h"

#include <QtTest>

#include <opencv2/imgproc.hpp>

namespace {

bool samePixels(const cv::Mat &a, const cv::Mat &b)
{
    return a.size() == b.size() && a.type() == b.type() && (a.empty() || cv::norm(a, b, cv::NORM_INF) == 0);
}

// A picture whose every pixel differs from its neighbours, so that any
// change of sampling position or weight shows.
cv::Mat noisePicture(cv::Size size, int type, unsigned seed)
{
    cv::Mat picture(size, type);
    cv::RNG rng(seed);
    rng.fill(picture, cv::RNG::UNIFORM, cv::Scalar::all(0), cv::Scalar::all(256));
    return picture;
}

} // namespace

class TestCutOut : public QObject {
    Q_OBJECT

private slots:
    void steepAngleTurnsByTheComplementAndSwapsSides();
    void angleOfMinus45IsKept();
    void uprightSheetComesOutAsPaper();
    void emptyRectangleGivesNothing();
    void regionWarpMatchesWholePictureWarp_data();
    void regionWarpMatchesWholePictureWarp();
    void cutOutIsTurnedButNotScaled();
    void outputSizeFallsBackToTheFactorySize();
};

void TestCutOut::steepAngleTurnsByTheComplementAndSwapsSides()
{
    // A sheet 300 wide and 500 high turned by +10 degrees is what the detector
    // reports as 500 x 300 at -80 degrees.
    const cv::Size frame(1200, 900);
    const cv::Mat scene = drawDeskScene(frame, {{{600, 450}, {300, 500}, 10.0f}});
    const cv::RotatedRect reported({600, 450}, {500, 300}, -80.0f);
    const cv::Mat cut = extractDocument(scene, reported);
    QCOMPARE(cut.cols, 300);
    QCOMPARE(cut.rows, 500);
    // Turned by +10 the sheet stands upright, so the cut-out is paper right
    // up to its border (a wrong turn would bring in desk at the corners). The
    // outermost pixels mix with the desk and are left out.
    cv::Mat grey;
    cv::cvtColor(cut, grey, cv::COLOR_BGR2GRAY);
    cv::Mat ring = grey(cv::Rect(3, 3, cut.cols - 6, cut.rows - 6)).clone();
    ring(cv::Rect(5, 5, ring.cols - 10, ring.rows - 10)).setTo(255);
    double darkest = 0;
    cv::minMaxLoc(ring, &darkest);
    QVERIFY2(darkest > 150, qPrintable(QString::number(darkest)));
}

void TestCutOut::angleOfMinus45IsKept()
{
    const cv::Mat picture = noisePicture({400, 300}, CV_8UC3, 7);
    const cv::RotatedRect rect({200, 150}, {120, 80}, -45.0f);
    const cv::Mat cut = extractDocument(picture, rect);
    QCOMPARE(cut.cols, 120);
    QCOMPARE(cut.rows, 80);
    // The turn is -45 itself, not +45: compare with that warp done by hand.
    const cv::Mat matrix = cv::getRotationMatrix2D(rect.center, -45.0, 1.0);
    cv::Mat turned, expected;
    cv::warpAffine(picture, turned, matrix, picture.size(), cv::INTER_CUBIC, cv::BORDER_CONSTANT, cv::Scalar::all(0));
    cv::getRectSubPix(turned, {120, 80}, rect.center, expected);
    QVERIFY(samePixels(cut, expected));
}

void TestCutOut::uprightSheetComesOutAsPaper()
{
    // An upright sheet comes from the detector at -90 degrees with its sides
    // exchanged. Sizes are rounded half to even: 300.5 -> 300, 401.5 -> 402.
    const cv::Mat scene = drawDeskScene({1000, 800}, {{{500, 400}, {320, 420}, 0.0f}});
    const cv::Mat cut = extractDocument(scene, cv::RotatedRect({500, 400}, {401.5f, 300.5f}, -90.0f));
    QCOMPARE(cut.cols, 300);
    QCOMPARE(cut.rows, 402);
    QVERIFY(cv::mean(cut)[0] > 180);
}

void TestCutOut::emptyRectangleGivesNothing()
{
    const cv::Mat picture = noisePicture({200, 100}, CV_8UC3, 1);
    QVERIFY(extractDocument(picture, cv::RotatedRect({0, 0}, {0, 0}, 0.0f)).empty());
    QVERIFY(cutOutDocument(picture, cv::RotatedRect({0, 0}, {0, 0}, 0.0f), 1).isNull());
}

void TestCutOut::regionWarpMatchesWholePictureWarp_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<unsigned>("seed");
    for (unsigned seed = 1; seed <= 40; ++seed) {
        QTest::addRow("colour %u", seed) << CV_8UC3 << seed;
        QTest::addRow("grey %u", seed) << CV_8UC1 << seed;
    }
}

void TestCutOut::regionWarpMatchesWholePictureWarp()
{
    QFETCH(int, type);
    QFETCH(unsigned, seed);
    cv::RNG rng(seed);
    const cv::Size size(rng.uniform(150, 700), rng.uniform(150, 500));
    const cv::Mat picture = noisePicture(size, type, seed);
    // Rectangles anywhere, including ones that stick out of the picture and
    // ones at the ends of the angle range.
    for (int i = 0; i < 6; ++i) {
        const cv::Point2f centre(rng.uniform(-40.f, size.width + 40.f), rng.uniform(-40.f, size.height + 40.f));
        const cv::Size2f extent(rng.uniform(1.f, size.width * 1.2f), rng.uniform(1.f, size.height * 1.2f));
        const float angles[] = {-90.0f, -45.0f, -45.0001f, rng.uniform(-90.f, 0.f), rng.uniform(-90.f, 0.f), -0.01f};
        const cv::RotatedRect rect(centre, extent, angles[i]);
        const cv::Mat fast = extractDocument(picture, rect);
        const cv::Mat reference = extractDocumentByFullWarp(picture, rect);
        QVERIFY2(samePixels(fast, reference),
                 qPrintable(QStringLiteral("centre %1,%2 size %3x%4 angle %5")
                                .arg(centre.x)
                                .arg(centre.y)
                                .arg(extent.width)
                                .arg(extent.height)
                                .arg(angles[i])));
    }
}

void TestCutOut::cutOutIsTurnedButNotScaled()
{
    const cv::Mat picture = noisePicture({640, 480}, CV_8UC1, 3);
    const cv::RotatedRect rect({320, 240}, {200, 100}, -10.0f);
    const QImage upright = cutOutDocument(picture, rect, 0);
    QCOMPARE(upright.size(), QSize(200, 100));
    QCOMPARE(upright.format(), QImage::Format_Indexed8);
    const QImage turned = cutOutDocument(picture, rect, 1);
    QCOMPARE(turned.size(), QSize(100, 200));
    // A clockwise quarter turn puts the top-left pixel at the top-right.
    QCOMPARE(turned.pixel(99, 0), upright.pixel(0, 0));
}

void TestCutOut::outputSizeFallsBackToTheFactorySize()
{
    const QList<QSize> sizes = standardOutputSizes();
    QCOMPARE(photoOutputSize(sizes, 6), QSize(1920, 1080));
    QCOMPARE(photoOutputSize(sizes, 12), QSize(3264, 2448));
    QCOMPARE(photoOutputSize(sizes, -1), QSize(3264, 2448));
    QCOMPARE(photoOutputSize({}, 0), QSize(4640, 3452));
    QCOMPARE(photoOutputSize({QSize(800, 600)}, 1), QSize(3264, 2448));
}

QTEST_GUILESS_MAIN(TestCutOut)
#include "test_cutout.moc"
