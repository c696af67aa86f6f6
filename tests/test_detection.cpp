#include "engine/detection.h"
#include "engine/pipeline.h"

#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace {

const cv::Scalar kDesk(40, 45, 50);
const cv::Scalar kPaper(235, 238, 240);

cv::Mat desk(cv::Size size = cv::Size(1000, 700), const cv::Scalar &colour = kDesk)
{
    return cv::Mat(size, CV_8UC3, colour);
}

// Fills a w x h pixel block; its contour, and so its rectangle, measures (w-1) x (h-1).
void fillBlock(cv::Mat &frame, int x, int y, int w, int h, const cv::Scalar &colour = kPaper)
{
    cv::rectangle(frame, cv::Rect(x, y, w, h), colour, cv::FILLED);
}

void fillTurned(cv::Mat &frame, const cv::RotatedRect &sheet, const cv::Scalar &colour = kPaper)
{
    cv::Point2f corners[4];
    sheet.points(corners);
    std::vector<cv::Point> poly;
    for (const auto &c : corners)
        poly.emplace_back(cvRound(c.x), cvRound(c.y));
    cv::fillConvexPoly(frame, poly, colour, cv::LINE_8);
}

// The outer contours of the frame's bright regions, in the library's order.
std::vector<std::vector<cv::Point>> brightContours(const cv::Mat &frame)
{
    cv::Mat grey;
    cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    cv::threshold(grey, grey, kDocumentThreshold, 255.0, cv::THRESH_BINARY);
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(grey, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
    return contours;
}

std::vector<cv::Point2f> sortedCorners(const cv::RotatedRect &rect)
{
    std::vector<cv::Point2f> corners(4);
    rect.points(corners.data());
    std::sort(corners.begin(), corners.end(),
              [](const cv::Point2f &a, const cv::Point2f &b) { return a.x != b.x ? a.x < b.x : a.y < b.y; });
    return corners;
}

bool sameCorners(const cv::RotatedRect &a, const cv::RotatedRect &b)
{
    const auto ca = sortedCorners(a);
    const auto cb = sortedCorners(b);
    for (int i = 0; i < 4; ++i)
        if (cv::norm(ca[i] - cb[i]) > 1e-3)
            return false;
    return true;
}

bool isZeroRect(const cv::RotatedRect &r)
{
    return r.center == cv::Point2f(0, 0) && r.size == cv::Size2f(0, 0) && r.angle == 0.0f;
}

} // namespace

class TestDetection : public QObject {
    Q_OBJECT

private slots:
    void areaLimitIsExclusive_data()
    {
        QTest::addColumn<int>("drawnWidth");
        QTest::addColumn<float>("area");
        QTest::addColumn<bool>("found");
        QTest::newRow("300 x 245") << 301 << 73500.0f << false;
        QTest::newRow("301 x 245") << 302 << 73745.0f << true;
    }

    void areaLimitIsExclusive()
    {
        QFETCH(int, drawnWidth);
        QFETCH(float, area);
        QFETCH(bool, found);
        cv::Mat frame = desk();
        fillBlock(frame, 100, 80, drawnWidth, 246);
        const auto contours = brightContours(frame);
        QCOMPARE(contours.size(), size_t(1));
        const cv::RotatedRect measured = cv::minAreaRect(contours[0]);
        QCOMPARE(measured.size.width * measured.size.height, area);

        const DetectedDocuments result = detectDocuments(frame);
        QCOMPARE(result.qualifying.size(), size_t(found ? 1 : 0));
        QCOMPARE(documentsForMode(result, kCorrectMultiple).size(), size_t(found ? 1 : 0));
        const auto single = documentsForMode(result, kCorrectSingle);
        QCOMPARE(single.size(), size_t(1));
        QCOMPARE(isZeroRect(single[0]), !found);
        if (found)
            QVERIFY(sameCorners(single[0], measured));
    }

    void modesWithNothingInView()
    {
        const DetectedDocuments result = detectDocuments(desk());
        const auto single = documentsForMode(result, kCorrectSingle);
        QCOMPARE(single.size(), size_t(1));
        QVERIFY(isZeroRect(single[0]));
        QVERIFY(documentsForMode(result, kCorrectMultiple).empty());
        for (int mode : {int(kCorrectNone), int(kCorrectCustom), 7, -1})
            QVERIFY(documentsForMode(result, mode).empty());
    }

    void unusableFramesFindNothing()
    {
        for (const cv::Mat &frame : {cv::Mat(), cv::Mat(50, 50, CV_8UC1, cv::Scalar(255)),
                                     cv::Mat(600, 600, CV_8UC4, cv::Scalar::all(255))}) {
            const DetectedDocuments result = detectDocuments(frame);
            QVERIFY(result.qualifying.empty());
            QVERIFY(isZeroRect(result.best));
        }
    }

    void equalAreasKeepTheFirstContour()
    {
        cv::Mat frame = desk();
        fillBlock(frame, 40, 40, 401, 301);
        fillBlock(frame, 520, 360, 401, 301);
        const auto contours = brightContours(frame);
        QCOMPARE(contours.size(), size_t(2));
        const cv::RotatedRect first = cv::minAreaRect(contours[0]);
        const cv::RotatedRect second = cv::minAreaRect(contours[1]);
        QCOMPARE(first.size.area(), second.size.area());
        QVERIFY(first.center != second.center);

        const DetectedDocuments result = detectDocuments(frame);
        QCOMPARE(result.best.center, first.center);
    }

    // The best area is kept truncated: a later rectangle whose area lies
    // between the truncated and the exact area of the best replaces it.
    void truncatedBestIsBeatenByTheFraction()
    {
        // Two equal sheets whose rasterised outlines differ slightly: the one
        // found first measures 100627.41, the other 100627.40.
        cv::Mat frame = desk(cv::Size(960, 480));
        fillTurned(frame, cv::RotatedRect(cv::Point2f(240.0f, 240.0f), cv::Size2f(384.0f, 260.0f), 24.0f));
        fillTurned(frame, cv::RotatedRect(cv::Point2f(720.0f, 240.25f), cv::Size2f(384.0f, 260.0f), 24.0f));
        const auto contours = brightContours(frame);
        QCOMPARE(contours.size(), size_t(2));
        const float first = toLegacyAngle(cv::minAreaRect(contours[0])).size.area();
        const cv::RotatedRect later = toLegacyAngle(cv::minAreaRect(contours[1]));
        QVERIFY2(later.size.area() < first && later.size.area() > std::trunc(first),
                 "the drawn sheets no longer have areas within one whole number");

        const DetectedDocuments result = detectDocuments(frame);
        QCOMPARE(result.qualifying.size(), size_t(2));
        QCOMPARE(result.best.center, later.center);
    }

    void multipleModeKeepsContourOrder()
    {
        cv::Mat frame = desk(cv::Size(1200, 900));
        fillBlock(frame, 30, 30, 320, 250);   // qualifies, smallest
        fillBlock(frame, 600, 60, 560, 400);  // largest
        fillBlock(frame, 80, 500, 200, 150);  // too small
        fillTurned(frame, cv::RotatedRect(cv::Point2f(800, 680), cv::Size2f(420, 300), 20.0f));
        const auto contours = brightContours(frame);
        std::vector<cv::Point2f> expected;
        for (const auto &contour : contours) {
            const cv::RotatedRect rect = cv::minAreaRect(contour);
            if (rect.size.area() > kMinDocumentArea)
                expected.push_back(rect.center);
        }
        QCOMPARE(expected.size(), size_t(3));

        const auto rects = documentsForMode(detectDocuments(frame), kCorrectMultiple);
        QCOMPARE(rects.size(), expected.size());
        for (size_t i = 0; i < rects.size(); ++i)
            QCOMPARE(rects[i].center, expected[i]);
    }

    void turnedSheets_data()
    {
        QTest::addColumn<float>("angle");
        for (float angle : {-35.0f, -12.0f, 12.0f, 35.0f, 60.0f})
            QTest::addRow("%+.0f degrees", double(angle)) << angle;
    }

    void turnedSheets()
    {
        QFETCH(float, angle);
        cv::Mat frame = desk();
        fillTurned(frame, cv::RotatedRect(cv::Point2f(500, 350), cv::Size2f(420, 300), angle));
        const auto contours = brightContours(frame);
        QCOMPARE(contours.size(), size_t(1));
        const cv::RotatedRect library = cv::minAreaRect(contours[0]);

        const auto rects = documentsForMode(detectDocuments(frame), kCorrectSingle);
        QCOMPARE(rects.size(), size_t(1));
        const cv::RotatedRect &found = rects[0];
        QVERIFY2(found.angle >= -90.0f && found.angle < 0.0f, qPrintable(QString::number(found.angle)));
        QVERIFY(sameCorners(found, library));
        QCOMPARE(found.size.area(), library.size.area());
        QCOMPARE(found.center, library.center);
        // The drawn sides come back, give or take the rasterisation.
        const float longSide = std::max(found.size.width, found.size.height);
        const float shortSide = std::min(found.size.width, found.size.height);
        QVERIFY(std::abs(longSide - 420.0f) < 3.0f);
        QVERIFY(std::abs(shortSide - 300.0f) < 3.0f);
    }

    void legacyAngleMapping_data()
    {
        QTest::addColumn<float>("angle");
        QTest::addColumn<float>("expectedAngle");
        QTest::addColumn<bool>("swapped");
        QTest::newRow("90") << 90.0f << -90.0f << false;
        QTest::newRow("30") << 30.0f << -60.0f << true;
        QTest::newRow("0") << 0.0f << -90.0f << true;
        QTest::newRow("-30") << -30.0f << -30.0f << false;
        QTest::newRow("-90") << -90.0f << -90.0f << false;
        QTest::newRow("150") << 150.0f << -30.0f << false;
    }

    void legacyAngleMapping()
    {
        QFETCH(float, angle);
        QFETCH(float, expectedAngle);
        QFETCH(bool, swapped);
        const cv::RotatedRect rect(cv::Point2f(300.5f, 200.25f), cv::Size2f(410.0f, 290.0f), angle);
        const cv::RotatedRect legacy = toLegacyAngle(rect);
        QCOMPARE(legacy.angle, expectedAngle);
        QCOMPARE(legacy.size, swapped ? cv::Size2f(290.0f, 410.0f) : cv::Size2f(410.0f, 290.0f));
        QCOMPARE(legacy.center, rect.center);
        QVERIFY(sameCorners(legacy, rect));
    }

    void regionsAreMeasuredByTheirEnclosingRectangle()
    {
        // An L of two bars covers 56400 pixels but spans 599 x 399.
        cv::Mat frame = desk();
        fillBlock(frame, 100, 100, 600, 60);
        fillBlock(frame, 100, 160, 60, 340);
        const auto rects = documentsForMode(detectDocuments(frame), kCorrectMultiple);
        QCOMPARE(rects.size(), size_t(1));
        QCOMPARE(rects[0].size.area(), 599.0f * 399.0f);
    }

    void onlyOutermostRegionsCount()
    {
        // A sheet on a larger bright surface is part of the surface.
        cv::Mat frame = desk();
        fillBlock(frame, 100, 80, 700, 500, cv::Scalar(180, 180, 180));
        fillBlock(frame, 250, 200, 400, 300);
        auto rects = documentsForMode(detectDocuments(frame), kCorrectMultiple);
        QCOMPARE(rects.size(), size_t(1));
        QCOMPARE(rects[0].size.area(), 699.0f * 499.0f);

        // A dark document on a light desk: the desk is what is found.
        cv::Mat light = desk(cv::Size(900, 600), cv::Scalar(200, 200, 200));
        fillBlock(light, 200, 150, 400, 300, cv::Scalar(30, 30, 30));
        rects = documentsForMode(detectDocuments(light), kCorrectMultiple);
        QCOMPARE(rects.size(), size_t(1));
        QCOMPARE(rects[0].size.area(), 899.0f * 599.0f);
    }
};

QTEST_GUILESS_MAIN(TestDetection)
#include "test_detection.moc"
