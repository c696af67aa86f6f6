#include "app/cache.h"
#include "engine/imageprocessing.h"
#include "support/scriptedcamera.h"
#include "support/scriptedframesource.h"
#include "views/displayscaling.h"
#include "views/qcameraview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/videoio.hpp>

namespace {

cv::Mat greyFrame(int)
{
    return cv::Mat(240, 320, CV_8UC3, cv::Scalar(90, 90, 90));
}

// Red picture with a green block at its centre and a blue one at its top-left corner.
QImage markedPicture(int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB888);
    picture.fill(Qt::red);
    QPainter painter(&picture);
    painter.fillRect(width / 2 - 10, height / 2 - 10, 20, 20, Qt::green);
    painter.fillRect(0, 0, 20, 20, Qt::blue);
    return picture;
}

QImage render(QCameraView &view)
{
    QImage target(view.size(), QImage::Format_RGB32);
    target.fill(Qt::white);
    // Without the window background, so that only the widget's own painting shows.
    view.render(&target, QPoint(), QRegion(), QWidget::DrawChildren);
    return target;
}

void deliver(QCameraView &view, const QImage &picture)
{
    QVERIFY(QMetaObject::invokeMethod(&view, "updateImage", Qt::DirectConnection, Q_ARG(QImage, picture)));
}

void wheel(QCameraView &view, int delta)
{
    const QPointF at(view.width() / 2.0, view.height() / 2.0);
    QWheelEvent event(at, view.mapToGlobal(at.toPoint()), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&view, &event);
}

void mouse(QCameraView &view, QEvent::Type type, QPoint at)
{
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, view.mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(&view, &event);
}

double meanDifference(QImage a, QImage b)
{
    a = a.convertToFormat(QImage::Format_RGB888);
    b = b.convertToFormat(QImage::Format_RGB888);
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width() * 3; ++x)
            sum += std::abs(a.constScanLine(y)[x] - b.constScanLine(y)[x]);
    return sum / (a.width() * 3.0 * a.height());
}

} // namespace

class TestQCameraView : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        Cache::config->outputSizes = standardOutputSizes();
        Cache::config->update([](ConfigValues &v) {
            v.cameraIndex = 0;
            v.imageResolution = 0;
            v.paintingMainResolution = 5;
            v.paintingOtherResolution = 5;
        });
        *Cache::cameras = {scriptedCamera(0, {QSize(640, 480), QSize(800, 600)}),
                           scriptedCamera(1, {QSize(1280, 720)}), scriptedCamera(2, {QSize(320, 240)})};
    }

    void fittedSize_data()
    {
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<QSize>("widget");
        QTest::addColumn<QSize>("fitted");
        QTest::newRow("small picture is not enlarged") << QSize(640, 480) << QSize(1000, 800) << QSize(640, 480);
        QTest::newRow("limited by width") << QSize(640, 480) << QSize(400, 400) << QSize(400, 300);
        QTest::newRow("height then width truncated") << QSize(1280, 720) << QSize(1000, 800) << QSize(999, 562);
        QTest::newRow("very tall picture limited by height") << QSize(500, 2000) << QSize(1000, 800)
                                                              << QSize(200, 800);
        QTest::newRow("empty widget") << QSize(640, 480) << QSize(0, 0) << QSize(0, 0);
    }

    void fittedSize()
    {
        QFETCH(QSize, frame);
        QFETCH(QSize, widget);
        QFETCH(QSize, fitted);
        QCOMPARE(fittedPictureSize(frame, widget), fitted);
    }

    void displayScalingMatchesQtSmoothScaling_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("RGB888") << int(QImage::Format_RGB888);
        QTest::newRow("RGB32") << int(QImage::Format_RGB32);
        QTest::newRow("Grayscale8") << int(QImage::Format_Grayscale8);
        QTest::newRow("Indexed8 grey") << int(QImage::Format_Indexed8);
        QTest::newRow("ARGB32 falls back to Qt") << int(QImage::Format_ARGB32);
    }

    void displayScalingMatchesQtSmoothScaling()
    {
        QFETCH(int, format);
        // Fine stripes and hard edges are where box filters differ most.
        QImage source(1283, 977, QImage::Format_RGB888);
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width(); ++x)
                source.setPixel(x, y, qRgb((x * 7) % 256, (y % 3) * 120, ((x / 5 + y / 5) % 2) * 255));
        QImage picture = source.convertToFormat(QImage::Format(format));
        if (QImage::Format(format) == QImage::Format_Indexed8) {
            QVector<QRgb> greys;
            for (int i = 0; i < 256; ++i)
                greys << qRgb(i, i, i);
            picture = source.convertToFormat(QImage::Format_Grayscale8).convertToFormat(QImage::Format_Indexed8, greys);
        }
        for (const QSize target : {QSize(500, 381), QSize(1000, 761), QSize(1283, 977), QSize(97, 64)}) {
            const QImage mine = scaleForDisplay(picture, target);
            const QImage qt = picture.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            QCOMPARE(mine.size(), target);
            QVERIFY2(meanDifference(mine, qt) < 1.0, qPrintable(QStringLiteral("at %1x%2: %3")
                                                                     .arg(target.width())
                                                                     .arg(target.height())
                                                                     .arg(meanDifference(mine, qt))));
        }
        // A flat area keeps its exact value: the weights of every output pixel sum to one.
        QImage flat(777, 555, QImage::Format_RGB888);
        flat.fill(qRgb(201, 13, 255));
        const QImage scaled = scaleForDisplay(flat, QSize(301, 222));
        QCOMPARE(scaled.pixel(0, 0), qRgb(201, 13, 255));
        QCOMPARE(scaled.pixel(300, 221), qRgb(201, 13, 255));
        QCOMPARE(scaled.pixel(150, 100), qRgb(201, 13, 255));
    }

    void paintDrawsFittedPictureCentred()
    {
        QCameraView view;
        view.resize(1000, 800);
        deliver(view, markedPicture(1280, 720));
        const QImage shown = render(view);
        // 999 x 562 at (500 - 499, 400 - 281).
        QCOMPARE(shown.pixel(0, 400), qRgb(255, 255, 255));
        QCOMPARE(shown.pixel(1, 400), qRgb(255, 0, 0));
        QCOMPARE(shown.pixel(999, 400), qRgb(255, 0, 0));
        QCOMPARE(shown.pixel(500, 118), qRgb(255, 255, 255));
        QCOMPARE(shown.pixel(500, 119), qRgb(255, 0, 0));
        QCOMPARE(shown.pixel(500, 680), qRgb(255, 0, 0));
        QCOMPARE(shown.pixel(500, 681), qRgb(255, 255, 255));
        QCOMPARE(shown.pixel(500, 400), qRgb(0, 255, 0));
        QCOMPARE(shown.pixel(4, 122), qRgb(0, 0, 255));

        // A small picture is drawn at its own size, centred.
        deliver(view, markedPicture(640, 480));
        const QImage small = render(view);
        QCOMPARE(small.pixel(179, 400), qRgb(255, 255, 255));
        QCOMPARE(small.pixel(180, 400), qRgb(255, 0, 0));
        QCOMPARE(small.pixel(819, 400), qRgb(255, 0, 0));
        QCOMPARE(small.pixel(820, 400), qRgb(255, 255, 255));
        QCOMPARE(small.pixel(180 + 19, 160 + 19), qRgb(0, 0, 255));
    }

    void withoutPictureOnlyTheStyledBackgroundIsPainted()
    {
        QCameraView view;
        view.resize(200, 150);
        view.setStyleSheet(QStringLiteral("background-color: rgb(0, 0, 255);"));
        const QImage shown = render(view);
        QCOMPARE(shown.pixel(0, 0), qRgb(0, 0, 255));
        QCOMPARE(shown.pixel(100, 75), qRgb(0, 0, 255));
        QCOMPARE(shown.pixel(199, 149), qRgb(0, 0, 255));
    }

    void wheelZoomSteps()
    {
        QCameraView view;
        view.resize(400, 300);
        deliver(view, markedPicture(640, 480));

        wheel(view, -120);
        QCOMPARE(view.zoomFactor(), 0.8);
        render(view);
        QCOMPARE(view.zoomFactor(), 1.0);

        // Steps down between two repaints stop above zero.
        for (int i = 0; i < 8; ++i)
            wheel(view, -120);
        QVERIFY(qFuzzyCompare(view.zoomFactor(), 0.2));
        QVERIFY(QMetaObject::invokeMethod(&view, "onZoomOutImage"));
        QVERIFY(qFuzzyCompare(view.zoomFactor(), 0.2));
        render(view);
        QCOMPARE(view.zoomFactor(), 1.0);

        // No upper limit, and a repaint above 1.0 keeps the factor.
        for (int i = 0; i < 30; ++i)
            wheel(view, 120);
        QVERIFY(qFuzzyCompare(view.zoomFactor(), 7.0));
        render(view);
        QVERIFY(qFuzzyCompare(view.zoomFactor(), 7.0));
        QVERIFY(QMetaObject::invokeMethod(&view, "onZoomInImage"));
        QVERIFY(qFuzzyCompare(view.zoomFactor(), 7.2));

        // Back down to exactly 1.0 after as many steps: a fitted repaint again.
        for (int i = 0; i < 31; ++i)
            QVERIFY(QMetaObject::invokeMethod(&view, "onZoomOutImage"));
        QCOMPARE(view.zoomFactor(), 1.0);
        QVERIFY(QMetaObject::invokeMethod(&view, "onZoomInImage"));
        QVERIFY(QMetaObject::invokeMethod(&view, "onPresetImage"));
        QCOMPARE(view.zoomFactor(), 1.0);
    }

    void dragPansTheZoomedPictureAndNotTheFittedOne()
    {
        QCameraView view;
        view.resize(400, 300);
        deliver(view, markedPicture(400, 300));

        mouse(view, QEvent::MouseButtonPress, QPoint(100, 100));
        mouse(view, QEvent::MouseMove, QPoint(130, 120));
        QCOMPARE(view.panOffset(), QPoint(30, 20));
        QCOMPARE(view.cursor().shape(), Qt::SizeAllCursor);
        mouse(view, QEvent::MouseButtonRelease, QPoint(130, 120));
        QCOMPARE(view.cursor().shape(), Qt::ArrowCursor);
        // Drawn shifted once, then every fitted repaint centres it again.
        QCOMPARE(render(view).pixel(200 + 30, 150 + 20), qRgb(0, 255, 0));
        QCOMPARE(view.panOffset(), QPoint(0, 0));
        QCOMPARE(render(view).pixel(200, 150), qRgb(0, 255, 0));

        // A move without a pressed button does nothing.
        mouse(view, QEvent::MouseMove, QPoint(10, 10));
        QCOMPARE(view.panOffset(), QPoint(0, 0));

        wheel(view, 120);
        wheel(view, 120);
        mouse(view, QEvent::MouseButtonPress, QPoint(10, 10));
        mouse(view, QEvent::MouseMove, QPoint(20, 10));
        mouse(view, QEvent::MouseMove, QPoint(50, 40));
        mouse(view, QEvent::MouseButtonRelease, QPoint(50, 40));
        QCOMPARE(view.panOffset(), QPoint(40, 30));
        const QImage zoomed = render(view);
        QCOMPARE(view.panOffset(), QPoint(40, 30));
        // The picture's centre follows the pan; the 20-pixel block is 28 pixels wide at 1.4.
        QCOMPARE(zoomed.pixel(240, 180), qRgb(0, 255, 0));
        QCOMPARE(zoomed.pixel(240 + 16, 180), qRgb(255, 0, 0));
        QCOMPARE(zoomed.pixel(240 + 12, 180), qRgb(0, 255, 0));

        QVERIFY(QMetaObject::invokeMethod(&view, "onPresetImage"));
        QCOMPARE(view.panOffset(), QPoint(0, 0));
    }

    void openingFlagFollowsOpenCloseAndReopen()
    {
        auto log = std::make_shared<ScriptedLog>();
        QCameraView view;
        view.captureThread()->setFrameSourceFactory(scriptedFactory(log, greyFrame));
        QSignalSpy opened(&view, &QCameraView::openCameraSignal);
        QSignalSpy closed(&view, &QCameraView::closeCameraSignal);
        QVERIFY(!view.isOpening());

        view.init(0);
        QVERIFY(view.isOpening());
        QVERIFY(opened.wait(3000));
        QVERIFY(!view.isOpening());
        QCOMPARE(opened.count(), 1);

        view.closeCamara();
        QVERIFY(view.isOpening());
        // Once from the capture thread's notice, once from the widget itself.
        QCOMPARE(closed.count(), 2);
        // A picture still in flight from before the close must not count as the camera opening.
        QTest::qWait(400);
        QVERIFY(view.isOpening());
        QCOMPARE(opened.count(), 1);

        view.openCamara();
        QVERIFY(view.isOpening());
        QVERIFY(opened.wait(3000));
        QVERIFY(!view.isOpening());

        closed.clear();
        view.reConfigVideoSetting();
        QVERIFY(view.isOpening());
        QCOMPARE(closed.count(), 1);
        // The loop closes and reopens, announces the close, and then pictures come again.
        QTRY_VERIFY_WITH_TIMEOUT(closed.count() >= 2, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(!view.isOpening(), 3000);
        QCOMPARE(opened.count(), 3);

        // Settings naming no known camera: the thread reopens nothing, so nothing is awaited.
        Cache::config->update([](ConfigValues &v) { v.cameraIndex = 7; });
        closed.clear();
        view.reConfigVideoSetting();
        QVERIFY(!view.isOpening());
        QCOMPARE(closed.count(), 0);
    }

    void changeCameraKeepsSizeWhenGivenZero()
    {
        Cache::config->update([](ConfigValues &v) { v.imageResolution = 1; });
        auto log = std::make_shared<ScriptedLog>();
        QCameraView view;
        view.captureThread()->setFrameSourceFactory(scriptedFactory(log, greyFrame));
        view.init(0);
        QCOMPARE(view.captureThread()->frameWidth(), 800);
        QCOMPARE(view.captureThread()->frameHeight(), 600);
        log->take();

        view.changeCamera(2, 0, 0);
        QVERIFY(view.isOpening());
        QCOMPARE(view.cameraIndex(), 2);
        QCOMPARE(view.captureThread()->cameraIndex(), 2);
        QCOMPARE(view.captureThread()->frameWidth(), 800);
        QCOMPARE(view.captureThread()->frameHeight(), 600);
        const QStringList calls = log->take();
        QVERIFY(calls.contains(QStringLiteral("release cam0")));
        QVERIFY(calls.contains(QStringLiteral("open cam2")));
        QVERIFY2(calls.contains(QStringLiteral("set %1 800").arg(cv::CAP_PROP_FRAME_WIDTH)), qPrintable(calls.join(", ")));

        view.changeCamera(1, 1024, 0);
        QCOMPARE(view.captureThread()->frameWidth(), 1024);
        QCOMPARE(view.captureThread()->frameHeight(), 600);
    }

    void pictureInPictureCapsByWidthOnly_data()
    {
        QTest::addColumn<QSize>("cameraSize");
        QTest::addColumn<bool>("pip");
        QTest::addColumn<bool>("main");
        QTest::addColumn<int>("mainCap");
        QTest::addColumn<int>("otherCap");
        QTest::addColumn<QSize>("expected");
        // Output sizes: 0 = 4640x3452, 3 = 3264x2448, 6 = 1920x1080, 7 = 1600x1200.
        QTest::newRow("narrower cap applies") << QSize(3264, 2448) << true << true << 6 << 0 << QSize(1920, 1080);
        QTest::newRow("secondary uses its own cap") << QSize(3264, 2448) << true << false << 6 << 7
                                                    << QSize(1600, 1200);
        QTest::newRow("wider cap does not") << QSize(3264, 2448) << true << true << 0 << 0 << QSize(3264, 2448);
        QTest::newRow("equal width does not") << QSize(3264, 2448) << true << true << 3 << 3 << QSize(3264, 2448);
        QTest::newRow("only widths compared") << QSize(1600, 1200) << true << true << 6 << 6 << QSize(1600, 1200);
        QTest::newRow("cap height comes along") << QSize(2048, 1536) << true << true << 6 << 6 << QSize(1920, 1080);
        QTest::newRow("no picture-in-picture") << QSize(3264, 2448) << false << true << 6 << 6 << QSize(3264, 2448);
        QTest::newRow("cap index out of range") << QSize(3264, 2448) << true << true << 12 << 12 << QSize(3264, 2448);
    }

    void pictureInPictureCapsByWidthOnly()
    {
        QFETCH(QSize, cameraSize);
        QFETCH(bool, pip);
        QFETCH(bool, main);
        QFETCH(int, mainCap);
        QFETCH(int, otherCap);
        QFETCH(QSize, expected);
        (*Cache::cameras)[0].sizes = {cameraSize};
        Cache::config->update([&](ConfigValues &v) {
            v.paintingMainResolution = mainCap;
            v.paintingOtherResolution = otherCap;
        });
        auto log = std::make_shared<ScriptedLog>();
        QCameraView view;
        view.captureThread()->setFrameSourceFactory(scriptedFactory(log, greyFrame));
        view.changeCameraResolution(pip, main);
        QCOMPARE(QSize(view.captureThread()->frameWidth(), view.captureThread()->frameHeight()), expected);
    }

    void indicesOutsideTheListsFallBack()
    {
        auto log = std::make_shared<ScriptedLog>();
        {
            // A size index the camera does not offer: its first size.
            QCameraView view;
            view.captureThread()->setFrameSourceFactory(scriptedFactory(log, greyFrame));
            Cache::config->update([](ConfigValues &v) { v.imageResolution = 7; });
            view.init(1);
            QCOMPARE(view.captureThread()->frameWidth(), 1280);
            QCOMPARE(view.captureThread()->frameHeight(), 720);
            view.changeCameraResolution(true, true);
            QCOMPARE(view.captureThread()->frameWidth(), 1280);
        }
        log->take();

        // A camera index outside the list: the camera stays closed.
        QCameraView view;
        view.captureThread()->setFrameSourceFactory(scriptedFactory(log, greyFrame));
        view.init(9);
        QVERIFY(!view.captureThread()->isCameraOpen());
        QVERIFY(view.isOpening());
        view.changeCameraResolution(true, true);
        view.init(-1);
        QTest::qWait(200);
        QVERIFY(!view.captureThread()->isCameraOpen());
        QVERIFY(!log->snapshot().join(' ').contains(QStringLiteral("open")));
    }

    void photographResultsAndFailuresAreForwarded()
    {
        QTemporaryDir work;
        Cache::config->update([&](ConfigValues &v) {
            v.userDocumentsLocation = work.path();
            v.saveType = 0;
            v.savePrefix = QStringLiteral("IMG");
            v.imageCodec = QStringLiteral("jpg");
        });
        auto log = std::make_shared<ScriptedLog>();
        QCameraView view;
        view.captureThread()->setFrameSourceFactory(scriptedFactory(log, greyFrame));
        QSignalSpy results(&view, &QCameraView::sendTakePhotoImageSignal);
        QSignalSpy warnings(&view, &QCameraView::warningSignal);

        // No frame yet: the capture fails and says so.
        view.setTakePhotoCammond(QImage(), QImage(), false, false);
        QVERIFY(results.wait(3000));
        QCOMPARE(warnings.count(), 1);
        QVERIFY(results.takeFirst().at(0).value<QList<QString>>().isEmpty());

        view.init(0);
        QSignalSpy opened(&view, &QCameraView::openCameraSignal);
        QVERIFY(opened.wait(3000));
        view.setTakePhotoCammond(QImage(), QImage(), false, false);
        QVERIFY(results.wait(3000));
        const QList<QVariant> result = results.takeFirst();
        const QList<QString> paths = result.at(0).value<QList<QString>>();
        QCOMPARE(paths.size(), 1);
        QVERIFY(QFileInfo(paths.first()).isFile());
        QCOMPARE(result.at(1).toInt(), 0);
        QCOMPARE(warnings.count(), 1);
    }

    void destructionStopsTheThreadPromptlyAndFreesIt()
    {
        auto log = std::make_shared<ScriptedLog>();
        auto *view = new QCameraView;
        QPointer<ImageProcessing> thread = view->captureThread();
        thread->setFrameSourceFactory(scriptedFactory(log, greyFrame));
        view->init(0);
        QSignalSpy opened(view, &QCameraView::openCameraSignal);
        QVERIFY(opened.wait(3000));
        // Let the loop block on a hand-over to the widget.
        QThread::msleep(50);

        QElapsedTimer clock;
        clock.start();
        delete view;
        QVERIFY2(clock.elapsed() < ImageProcessing::kEndWaitMs, qPrintable(QString::number(clock.elapsed())));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QTRY_VERIFY_WITH_TIMEOUT(thread.isNull(), 3000);
    }
};

QTEST_MAIN(TestQCameraView)
#include "test_qcameraview.moc"
