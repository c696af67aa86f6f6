#include "engine/frameconversion.h"

#include <QtTest>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

namespace {

// A matrix whose every byte differs from its neighbours, so that a shifted,
// swapped or stride-confused copy cannot pass.
cv::Mat patterned(int rows, int cols, int type)
{
    cv::Mat mat(rows, cols, type);
    cv::randu(mat, cv::Scalar::all(0), cv::Scalar::all(256));
    return mat;
}

// The pixel an image must hold for the matrix element at (x, y).
QRgb expectedPixel(const cv::Mat &mat, int x, int y)
{
    const uchar *p = mat.ptr(y) + x * mat.elemSize();
    switch (mat.channels()) {
    case 1:
        return qRgb(p[0], p[0], p[0]);
    case 3:
        return qRgb(p[2], p[1], p[0]);
    default:
        return qRgba(p[2], p[1], p[0], p[3]);
    }
}

} // namespace

class TestFrameConversion : public QObject {
    Q_OBJECT

private slots:
    void convertsEveryPixel_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("cutOut");
        QTest::addColumn<int>("format");
        for (bool cutOut : {false, true}) {
            const char *how = cutOut ? "cut out of a larger matrix" : "whole";
            QTest::addRow("grey, %s", how) << int(CV_8UC1) << cutOut << int(QImage::Format_Indexed8);
            QTest::addRow("BGR, %s", how) << int(CV_8UC3) << cutOut << int(QImage::Format_RGB888);
            QTest::addRow("BGRA, %s", how) << int(CV_8UC4) << cutOut << int(QImage::Format_ARGB32);
        }
    }

    void convertsEveryPixel()
    {
        QFETCH(int, type);
        QFETCH(bool, cutOut);
        QFETCH(int, format);
        // Odd widths leave padding at the end of each image row; the cut-out
        // has a row stride larger than its width.
        const cv::Mat whole = patterned(41, 57, type);
        const cv::Mat mat = cutOut ? whole(cv::Rect(5, 3, 33, 29)) : whole;
        QCOMPARE(mat.isContinuous(), !cutOut);

        const QImage image = matToQImage(mat);
        QCOMPARE(int(image.format()), format);
        QCOMPARE(image.size(), QSize(mat.cols, mat.rows));
        for (int y = 0; y < mat.rows; ++y)
            for (int x = 0; x < mat.cols; ++x)
                QCOMPARE(image.pixel(x, y), expectedPixel(mat, x, y));
        if (type == CV_8UC1) {
            QCOMPARE(image.colorCount(), 256);
            for (int i = 0; i < 256; ++i)
                QCOMPARE(image.color(i), qRgb(i, i, i));
            QCOMPARE(image.pixelIndex(0, 0), int(mat.at<uchar>(0, 0)));
        }
    }

    void knownValues()
    {
        const cv::Mat bgr(1, 1, CV_8UC3, cv::Scalar(10, 20, 30));
        QCOMPARE(matToQImage(bgr).pixel(0, 0), qRgb(30, 20, 10));
        const cv::Mat grey(1, 1, CV_8UC1, cv::Scalar(200));
        const QImage image = matToQImage(grey);
        QCOMPARE(image.pixel(0, 0), qRgb(200, 200, 200));
        QCOMPARE(image.pixelIndex(0, 0), 200);
    }

    void ownsItsPixels_data()
    {
        QTest::addColumn<int>("type");
        QTest::newRow("grey") << int(CV_8UC1);
        QTest::newRow("BGR") << int(CV_8UC3);
        QTest::newRow("BGRA") << int(CV_8UC4);
    }

    void ownsItsPixels()
    {
        QFETCH(int, type);
        cv::Mat mat = patterned(16, 24, type);
        const QImage image = matToQImage(mat);
        const QImage before = image.copy();
        mat.setTo(cv::Scalar::all(0));
        QCOMPARE(image, before);
        mat.release();
        QCOMPARE(image, before);
    }

    void otherTypesGiveNull_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("rows");
        QTest::newRow("16-bit") << int(CV_16UC1) << 4;
        QTest::newRow("float BGR") << int(CV_32FC3) << 4;
        QTest::newRow("two channels") << int(CV_8UC2) << 4;
        QTest::newRow("signed 8-bit") << int(CV_8SC3) << 4;
        QTest::newRow("empty BGR") << int(CV_8UC3) << 0;
    }

    void otherTypesGiveNull()
    {
        QFETCH(int, type);
        QFETCH(int, rows);
        const cv::Mat mat(rows, rows, type, cv::Scalar::all(1));
        QVERIFY(matToQImage(mat).isNull());
    }

    // A preview decoded smaller than it is drawn would be blurred; larger wastes the processor.
    void previewReductionNeverBelowTheDrawnSize_data()
    {
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<QSize>("shown");
        QTest::addColumn<int>("factor");
        QTest::newRow("8 MP in a 700x500 preview") << QSize(3264, 2448) << QSize(700, 500) << 4;
        QTest::newRow("8 MP in a small dialog") << QSize(3264, 2448) << QSize(400, 300) << 8;
        QTest::newRow("1080p drawn 1000 wide needs it whole") << QSize(1920, 1080) << QSize(1000, 750) << 1;
        QTest::newRow("1080p drawn 800 wide") << QSize(1920, 1080) << QSize(800, 600) << 2;
        QTest::newRow("limited by the height") << QSize(1920, 1080) << QSize(2000, 270) << 4;
        QTest::newRow("a picture smaller than the widget") << QSize(640, 480) << QSize(1000, 800) << 1;
        QTest::newRow("size not known (widget not shown)") << QSize(3264, 2448) << QSize() << 1;
    }

    void previewReductionNeverBelowTheDrawnSize()
    {
        QFETCH(QSize, frame);
        QFETCH(QSize, shown);
        QFETCH(int, factor);
        QCOMPARE(previewReduction(cv::Size(frame.width(), frame.height()), cv::Size(shown.width(), shown.height())),
                 factor);
    }

    void jpegSizeFromTheFrameHeader_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QSize>("size");
        const cv::Mat picture = patterned(23, 37, CV_8UC3);
        const auto encoded = [&picture](const char *format, const std::vector<int> &options = {}) {
            std::vector<uchar> bytes;
            cv::imencode(format, picture, bytes, options);
            return QByteArray(reinterpret_cast<const char *>(bytes.data()), static_cast<int>(bytes.size()));
        };
        const QByteArray baseline = encoded(".jpg");
        // A large application segment (as a camera's EXIF block) before the frame header.
        const QByteArray segment = QByteArray("\xff\xe1\x40\x02", 4) + QByteArray(0x4000, '\xff');

        QTest::newRow("baseline") << baseline << QSize(37, 23);
        QTest::newRow("progressive") << encoded(".jpg", {cv::IMWRITE_JPEG_PROGRESSIVE, 1}) << QSize(37, 23);
        QTest::newRow("segment before the header") << baseline.left(2) + segment + baseline.mid(2) << QSize(37, 23);
        QTest::newRow("cut short before the header") << baseline.left(20) << QSize(0, 0);
        QTest::newRow("not a JPEG") << encoded(".png") << QSize(0, 0);
    }

    void jpegSizeFromTheFrameHeader()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QSize, size);
        const cv::Size found =
            jpegPictureSize(reinterpret_cast<const uchar *>(bytes.constData()), static_cast<size_t>(bytes.size()));
        QCOMPARE(QSize(found.width, found.height), size);
    }
};

QTEST_GUILESS_MAIN(TestFrameConversion)
#include "test_frameconversion.moc"
