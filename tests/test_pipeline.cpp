#include "scenes/deskscene.h"
#include "engine/detection.h"
#include "engine/pipeline.h"

#include <QTransform>
#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <cmath>

Q_DECLARE_METATYPE(cv::Scalar)

namespace {

bool identical(const cv::Mat &a, const cv::Mat &b)
{
    return a.size() == b.size() && a.type() == b.type() && (a.empty() || cv::norm(a, b, cv::NORM_INF) == 0.0);
}

// The shooting types done the plain way, one library call after another.
cv::Mat plainShootingType(const cv::Mat &in, int shootingType)
{
    cv::Mat grey, bw, bw3, out;
    cv::cvtColor(in, grey, cv::COLOR_BGR2GRAY);
    if (shootingType == kShootGrey)
        return grey;
    cv::adaptiveThreshold(grey, bw, 255.0, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY, kAdaptiveBlockSize,
                          kAdaptiveConstant);
    cv::cvtColor(bw, bw3, cv::COLOR_GRAY2BGR);
    if (shootingType == kShootBlackWhite)
        return bw3;
    cv::add(in, bw3, out);
    return out;
}

// Frames that make the threshold's comparison come out close either way.
cv::Mat testFrame(const QString &kind, cv::Size size)
{
    if (kind == "noise") {
        cv::Mat frame(size, CV_8UC3);
        cv::randu(frame, cv::Scalar::all(0), cv::Scalar::all(256));
        return frame;
    }
    return drawDeskScene(size, demoSheets(size), 3);
}

// One axis-aligned sheet of 500 x 350 on a dark desk.
cv::Mat oneSheet()
{
    cv::Mat frame(600, 800, CV_8UC3, cv::Scalar(40, 45, 50));
    cv::rectangle(frame, cv::Rect(150, 120, 501, 351), cv::Scalar(235, 238, 240), cv::FILLED);
    return frame;
}

std::vector<cv::Point> edgeMidpoints(const cv::RotatedRect &rect)
{
    cv::Point2f c[4];
    rect.points(c);
    std::vector<cv::Point> points;
    for (int i = 0; i < 4; ++i) {
        const cv::Point2f m = (c[i] + c[(i + 1) % 4]) * 0.5f;
        points.emplace_back(cvRound(m.x), cvRound(m.y));
    }
    return points;
}

QImage patternedImage(int width, int height, QImage::Format format)
{
    QImage image(width, height, format);
    if (format == QImage::Format_Indexed8) {
        QVector<QRgb> table;
        for (int i = 0; i < 256; ++i)
            table.append(qRgb(i, 255 - i, i / 2));
        image.setColorTable(table);
    }
    for (int y = 0; y < height; ++y) {
        uchar *row = image.scanLine(y);
        for (int x = 0; x < image.bytesPerLine(); ++x)
            row[x] = static_cast<uchar>(x * 7 + y * 13 + (x * y) % 5);
    }
    image.setDotsPerMeterX(3000);
    image.setDotsPerMeterY(4000);
    image.setText("Source", "test");
    return image;
}

} // namespace

class TestPipeline : public QObject {
    Q_OBJECT

private slots:
    void shootingTypesMatchThePlainSteps_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("cutOut");
        // Small frames take the whole-picture routines, larger ones the
        // striped path; odd widths and a cut-out exercise row ends and strides.
        QTest::newRow("small noise") << "noise" << QSize(97, 61) << false;
        QTest::newRow("noise 640x480") << "noise" << QSize(640, 480) << false;
        QTest::newRow("noise cut out") << "noise" << QSize(1283, 517) << true;
        QTest::newRow("narrow tall noise") << "noise" << QSize(17, 20000) << false;
        QTest::newRow("desk 1001x733") << "desk" << QSize(1001, 733) << false;
        QTest::newRow("desk cut out") << "desk" << QSize(900, 700) << true;
    }

    void shootingTypesMatchThePlainSteps()
    {
        QFETCH(QString, kind);
        QFETCH(QSize, size);
        QFETCH(bool, cutOut);
        const cv::Size frameSize(size.width(), size.height());
        cv::Mat frame = testFrame(kind, cutOut ? frameSize + cv::Size(40, 30) : frameSize);
        if (cutOut)
            frame = frame(cv::Rect(cv::Point(25, 11), frameSize));
        const cv::Mat pristine = frame.clone();

        for (int type : {int(kShootGrey), int(kShootBlackWhite), int(kShootBackgroundRemoved)}) {
            const cv::Mat expected = plainShootingType(frame, type);
            for (bool wide : {true, false}) {
                cv::Mat out;
                applyShootingType(frame, out, type, wide);
                QVERIFY2(identical(out, expected), qPrintable(QStringLiteral("shooting type %1%2").arg(type).arg(wide ? "" : ", library kernel")));
            }

            // With detection the grey picture is shared and the contour
            // search overlaps the threshold: the result must not change.
            for (int mode : {int(kCorrectSingle), int(kCorrectMultiple)}) {
                cv::Mat withOutlines = expected.clone();
                const auto found = documentsForMode(detectDocuments(frame), mode);
                drawDocumentOutlines(withOutlines, found, mode == kCorrectSingle);
                cv::Mat processed;
                const auto rects = processFrame(frame, processed, mode, type, true);
                QCOMPARE(rects.size(), found.size());
                for (size_t i = 0; i < rects.size(); ++i)
                    QCOMPARE(rects[i].center, found[i].center);
                QVERIFY2(identical(processed, withOutlines), qPrintable(QStringLiteral("type %1 mode %2").arg(type).arg(mode)));
            }
        }
        QVERIFY(identical(frame, pristine));
    }

    void thresholdKernelsMatchTheLibrary_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("cutOut");
        QTest::addColumn<bool>("wide");
        const QVector<QSize> sizes{QSize(1, 1),   QSize(300, 1),   QSize(1, 300),    QSize(24, 24),
                                   QSize(25, 26), QSize(97, 61),   QSize(640, 480),  QSize(1283, 517)};
        for (bool wide : {true, false}) {
            for (const QSize &size : sizes)
                QTest::addRow("%dx%d %s", size.width(), size.height(), wide ? "wide" : "library")
                    << size << false << wide;
            QTest::addRow("cut out %s", wide ? "wide" : "library") << QSize(301, 203) << true << wide;
        }
    }

    void thresholdKernelsMatchTheLibrary()
    {
        QFETCH(QSize, size);
        QFETCH(bool, cutOut);
        QFETCH(bool, wide);
        cv::Mat grey(size.height() + (cutOut ? 40 : 0), size.width() + (cutOut ? 40 : 0), CV_8UC1);
        cv::randu(grey, cv::Scalar(0), cv::Scalar(256));
        if (cutOut)
            grey = grey(cv::Rect(cv::Point(17, 23), cv::Size(size.width(), size.height())));
        cv::Mat expected;
        cv::adaptiveThreshold(grey, expected, 255.0, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY,
                              kAdaptiveBlockSize, kAdaptiveConstant);
        const int rows = grey.rows;
        for (const cv::Range &range : {cv::Range(0, rows), cv::Range(0, 1), cv::Range(rows - 1, rows),
                                       cv::Range(rows / 3, rows - rows / 4)}) {
            if (range.empty())
                continue;
            cv::Mat mask;
            adaptiveThresholdRows(grey, range, mask, wide);
            QVERIFY2(identical(mask, expected.rowRange(range)),
                     qPrintable(QStringLiteral("rows %1 to %2").arg(range.start).arg(range.end)));
        }
    }

    void outlineColours_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("mode");
        QTest::addColumn<cv::Scalar>("colour");
        const cv::Scalar green(0, 255, 0), red(0, 0, 255), black(0, 0, 0);
        for (int type : {int(kShootColour), int(kShootBlackWhite), int(kShootBackgroundRemoved)}) {
            QTest::addRow("type %d single", type) << type << int(kCorrectSingle) << green;
            QTest::addRow("type %d multiple", type) << type << int(kCorrectMultiple) << red;
        }
        QTest::newRow("grey single") << int(kShootGrey) << int(kCorrectSingle) << black;
        QTest::newRow("grey multiple") << int(kShootGrey) << int(kCorrectMultiple) << black;
    }

    void outlineColours()
    {
        QFETCH(int, type);
        QFETCH(int, mode);
        QFETCH(cv::Scalar, colour);
        const cv::Mat frame = oneSheet();
        const cv::Mat pristine = frame.clone();
        cv::Mat out;
        const auto rects = processFrame(frame, out, mode, type, true);
        QCOMPARE(rects.size(), size_t(1));
        QCOMPARE(out.channels(), type == kShootGrey ? 1 : 3);
        for (const cv::Point &p : edgeMidpoints(rects[0])) {
            if (out.channels() == 1) {
                QCOMPARE(int(out.at<uchar>(p)), 0);
            } else {
                const cv::Vec3b pixel = out.at<cv::Vec3b>(p);
                for (int c = 0; c < 3; ++c)
                    QCOMPARE(double(pixel[c]), colour[c]);
            }
        }
        // The caller's frame is never drawn on, even when the output would share it.
        QVERIFY(identical(frame, pristine));
        QVERIFY(out.data != frame.data);

        // Without outlines the colour picture is the frame itself.
        cv::Mat plain;
        QCOMPARE(processFrame(frame, plain, mode, type, false).size(), size_t(1));
        if (type == kShootColour)
            QCOMPARE(plain.data, frame.data);
        else
            QVERIFY(identical(plain, plainShootingType(frame, type)));
    }

    void outlineCornersRoundHalvesToEven()
    {
        // Corners at 99.5, 500.5 and 400.5: halves to even give 100, 500 and
        // 400 where rounding halves up would give 100, 501 and 401.
        const cv::RotatedRect rect(cv::Point2f(300.0f, 250.0f), cv::Size2f(401.0f, 301.0f), 0.0f);
        cv::Point2f corners[4];
        rect.points(corners);
        auto drawn = [&](auto round) {
            cv::Mat picture(500, 600, CV_8UC3, cv::Scalar::all(128));
            for (int i = 0; i < 4; ++i) {
                const cv::Point2f &a = corners[i];
                const cv::Point2f &b = corners[(i + 1) % 4];
                cv::line(picture, cv::Point(round(a.x), round(a.y)), cv::Point(round(b.x), round(b.y)),
                         cv::Scalar(0, 255, 0), kOutlineThickness, cv::LINE_8, 0);
            }
            return picture;
        };
        const cv::Mat halvesToEven = drawn([](float v) { return int(std::nearbyint(v)); });
        const cv::Mat halvesUp = drawn([](float v) { return int(std::floor(v + 0.5f)); });
        QVERIFY(!identical(halvesToEven, halvesUp));

        cv::Mat picture(500, 600, CV_8UC3, cv::Scalar::all(128));
        drawDocumentOutlines(picture, {rect}, true);
        QVERIFY(identical(picture, halvesToEven));
    }

    void nothingToOutline()
    {
        const cv::Mat frame(600, 800, CV_8UC3, cv::Scalar(40, 45, 50));
        cv::Mat out;
        const auto rects = processFrame(frame, out, kCorrectSingle, kShootColour, true);
        QCOMPARE(rects.size(), size_t(1));
        QCOMPARE(rects[0].size.area(), 0.0f);
        QCOMPARE(out.data, frame.data);

        QVERIFY(processFrame(oneSheet(), out, kCorrectNone, kShootColour, true).empty());
        QVERIFY(processFrame(oneSheet(), out, kCorrectCustom, kShootColour, true).empty());
    }

    void unusableFramesPassThrough()
    {
        for (int type = 0; type <= 4; ++type) {
            for (int mode = 0; mode <= 3; ++mode) {
                cv::Mat out(3, 3, CV_8UC3);
                QVERIFY(processFrame(cv::Mat(), out, mode, type, true).empty());
                QVERIFY(out.empty());
                const cv::Mat grey(40, 40, CV_8UC1, cv::Scalar(200));
                QVERIFY(processFrame(grey, out, mode, type, true).empty());
                QCOMPARE(out.data, grey.data);
            }
            cv::Mat out;
            applyShootingType(cv::Mat(), out, type);
            QVERIFY(out.empty());
        }
    }

    void blankPageComesOutWhite_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("small") << QSize(90, 60);
        QTest::newRow("large") << QSize(800, 600);
    }

    void blankPageComesOutWhite()
    {
        QFETCH(QSize, size);
        // Paper grain well inside the threshold's margin of 20.
        cv::Mat page(size.height(), size.width(), CV_8UC3);
        cv::randu(page, cv::Scalar::all(192), cv::Scalar::all(209));
        const cv::Mat white(page.size(), CV_8UC3, cv::Scalar::all(255));
        for (int type : {int(kShootBlackWhite), int(kShootBackgroundRemoved)}) {
            cv::Mat out;
            applyShootingType(page, out, type);
            QVERIFY(identical(out, white));
        }
    }

    void backgroundRemovalKeepsInk()
    {
        cv::Mat page(600, 800, CV_8UC3, cv::Scalar(228, 230, 232));
        const cv::Scalar ink(180, 60, 20);
        for (int y = 100; y < 500; y += 40)
            cv::line(page, cv::Point(100, y), cv::Point(700, y), ink, 5);
        cv::Mat out;
        applyShootingType(page, out, kShootBackgroundRemoved);
        QCOMPARE(out.at<cv::Vec3b>(300, 400), cv::Vec3b(180, 60, 20));
        QCOMPARE(out.at<cv::Vec3b>(320, 400), cv::Vec3b(255, 255, 255));
        QCOMPARE(out.at<cv::Vec3b>(20, 20), cv::Vec3b(255, 255, 255));

        applyShootingType(page, out, kShootBlackWhite);
        QCOMPARE(out.at<cv::Vec3b>(300, 400), cv::Vec3b(0, 0, 0));
        QCOMPARE(out.at<cv::Vec3b>(320, 400), cv::Vec3b(255, 255, 255));
    }

    void colourAndUnknownTypesShareTheFrame()
    {
        const cv::Mat frame = oneSheet();
        for (int type : {int(kShootColour), 4, -1}) {
            cv::Mat out;
            applyShootingType(frame, out, type);
            QCOMPARE(out.data, frame.data);
        }
    }

    void turnsMatchQt_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QSize>("size");
        const QVector<QImage::Format> formats{QImage::Format_Indexed8, QImage::Format_Grayscale8,
                                              QImage::Format_RGB888,   QImage::Format_RGB32,
                                              QImage::Format_ARGB32,   QImage::Format_ARGB32_Premultiplied,
                                              QImage::Format_RGB16};
        for (QImage::Format format : formats) {
            // Sizes off the tile grid, with row padding, and a single row.
            for (const QSize &size : {QSize(37, 23), QSize(40, 23), QSize(301, 170), QSize(129, 1)})
                QTest::addRow("format %d %dx%d", int(format), size.width(), size.height())
                    << int(format) << size;
        }
    }

    void turnsMatchQt()
    {
        QFETCH(int, format);
        QFETCH(QSize, size);
        const QImage picture = patternedImage(size.width(), size.height(), QImage::Format(format));
        for (int turns = 1; turns <= 3; ++turns) {
            QTransform matrix;
            matrix.rotate(90.0 * turns);
            const QImage expected = picture.transformed(matrix, Qt::SmoothTransformation);
            const QImage turned = rotateQuarterTurns(picture, turns);
            QCOMPARE(turned.format(), expected.format());
            QCOMPARE(turned.size(), expected.size());
            QVERIFY2(turned == expected, qPrintable(QStringLiteral("%1 quarter turns").arg(turns)));
            QCOMPARE(turned.dotsPerMeterX(), expected.dotsPerMeterX());
            QCOMPARE(turned.dotsPerMeterY(), expected.dotsPerMeterY());
            QCOMPARE(turned.text("Source"), expected.text("Source"));
        }
    }

    void turnsAreClockwise()
    {
        QImage picture(3, 2, QImage::Format_RGB888);
        picture.fill(Qt::white);
        picture.setPixel(0, 0, qRgb(255, 0, 0));
        QCOMPARE(rotateQuarterTurns(picture, 1).pixel(1, 0), qRgb(255, 0, 0));
        QCOMPARE(rotateQuarterTurns(picture, 2).pixel(2, 1), qRgb(255, 0, 0));
        QCOMPARE(rotateQuarterTurns(picture, 3).pixel(0, 2), qRgb(255, 0, 0));
    }

    void noTurnReturnsTheSamePicture()
    {
        const QImage picture = patternedImage(20, 10, QImage::Format_RGB888);
        for (int index : {0, 4, -1})
            QCOMPARE(rotateQuarterTurns(picture, index).cacheKey(), picture.cacheKey());
        QVERIFY(rotateQuarterTurns(QImage(), 1).isNull());
    }

    void rotationIndexSteps_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("expected");
        QTest::newRow("0 left") << 0 << -1 << 3;
        QTest::newRow("3 half") << 3 << 0 << 1;
        QTest::newRow("2 right") << 2 << 1 << 3;
        QTest::newRow("3 right") << 3 << 1 << 0;
        QTest::newRow("1 left") << 1 << -1 << 0;
        QTest::newRow("2 half") << 2 << 0 << 0;
        for (int index = 0; index < 4; ++index) {
            QTest::addRow("%d step 2", index) << index << 2 << index;
            QTest::addRow("%d step -2", index) << index << -2 << index;
        }
    }

    void rotationIndexSteps()
    {
        QFETCH(int, index);
        QFETCH(int, step);
        QFETCH(int, expected);
        QCOMPARE(nextRotationIndex(index, step), expected);
    }
};

QTEST_GUILESS_MAIN(TestPipeline)
#include "test_pipeline.moc"
