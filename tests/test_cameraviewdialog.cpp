#include "app/cache.h"
#include "engine/imageprocessing.h"
#include "support/scriptedcamera.h"
#include "support/scriptedframesource.h"
#include "views/cameraviewdialog.h"
#include "views/qcameraview.h"

#include <QLabel>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QtTest>

#include <opencv2/videoio.hpp>

namespace {

cv::Mat blueFrame(int)
{
    return cv::Mat(240, 320, CV_8UC3, cv::Scalar(200, 0, 0));
}

} // namespace

class TestCameraViewDialog : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        Cache::config->outputSizes = standardOutputSizes();
        Cache::config->update([](ConfigValues &v) {
            v.imageResolution = 0;
            v.paintingOtherResolution = 9; // 1280 x 720
        });
        *Cache::cameras = {scriptedCamera(0, {QSize(3264, 2448), QSize(1920, 1080), QSize(640, 480)}),
                           scriptedCamera(1, {QSize(2592, 1944)})};
    }

    void formMatchesTheDesign()
    {
        CameraViewDialog dialog;
        QCOMPARE(dialog.objectName(), QStringLiteral("CameraViewDialog"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("画中画"));
        QCOMPARE(dialog.minimumSize(), QSize(400, 300));
        QCOMPARE(dialog.size(), QSize(400, 300));
        QVERIFY(!(dialog.windowFlags() & Qt::WindowContextHelpButtonHint));

        auto *layout = dialog.findChild<QVBoxLayout *>(QStringLiteral("verticalLayout"));
        QVERIFY(layout);
        QCOMPARE(layout->spacing(), 0);
        QCOMPARE(layout->contentsMargins(), QMargins(0, 0, 0, 0));
        auto *view = dialog.findChild<QCameraView *>(QStringLiteral("iVideo"));
        QVERIFY(view);
        QCOMPARE(view, dialog.view());
        QCOMPARE(layout->indexOf(view), 0);
        auto *inner = view->findChild<QVBoxLayout *>(QStringLiteral("verticalLayout_2"));
        QVERIFY(inner);
        QCOMPARE(view->layout(), inner);

        auto *label = view->findChild<QLabel *>(QStringLiteral("label"));
        QVERIFY(label);
        QCOMPARE(inner->indexOf(label), 0);
        QCOMPARE(label->text(), QStringLiteral("视频加载中，请稍候......"));
        QCOMPARE(label->alignment(), Qt::Alignment(Qt::AlignCenter));
        QCOMPARE(label->font().pointSize(), 20);
        QVERIFY(label->font().bold());
        const QPalette palette = label->palette();
        QCOMPARE(palette.color(QPalette::Active, QPalette::WindowText), QColor(255, 0, 0));
        QCOMPARE(palette.color(QPalette::Inactive, QPalette::WindowText), QColor(255, 0, 0));
        QCOMPARE(palette.color(QPalette::Disabled, QPalette::WindowText), QColor(120, 120, 120));
    }

    void noticeAndPictureFollowTheCamera()
    {
        auto log = std::make_shared<ScriptedLog>();
        CameraViewDialog dialog;
        dialog.view()->captureThread()->setFrameSourceFactory(scriptedFactory(log, blueFrame));
        auto *label = dialog.findChild<QLabel *>(QStringLiteral("label"));
        dialog.show();
        QVERIFY(label->isVisible());
        QVERIFY(dialog.getChildImage().isNull());

        QSignalSpy opened(dialog.view(), &QCameraView::openCameraSignal);
        dialog.SetCamera(1);
        // The camera's own size, capped by painting/other_resolution.
        QCOMPARE(dialog.view()->captureThread()->frameWidth(), 1280);
        QCOMPARE(dialog.view()->captureThread()->frameHeight(), 720);
        QVERIFY(opened.wait(3000));
        QVERIFY(!label->isVisible());
        const QImage picture = dialog.getChildImage();
        QCOMPARE(picture.size(), QSize(320, 240));
        QCOMPARE(picture.pixel(10, 10), qRgb(0, 0, 200));

        QTRY_VERIFY_WITH_TIMEOUT(log->snapshot().contains(QStringLiteral("set %1 1280").arg(cv::CAP_PROP_FRAME_WIDTH)),
                                 3000);

        // Closing shows the notice; it stays until the reopened camera's first picture.
        dialog.view()->closeCamara();
        QVERIFY(label->isVisible());
        QTest::qWait(200);
        QVERIFY(label->isVisible());
        dialog.view()->openCamara();
        QVERIFY(label->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!label->isVisible(), 3000);
    }

    void secondaryCameraWithAShorterSizeList()
    {
        // image/resolution 2 belongs to the main camera; camera 1 offers one size only.
        Cache::config->update([](ConfigValues &v) {
            v.imageResolution = 2;
            v.paintingOtherResolution = 0;
        });
        auto log = std::make_shared<ScriptedLog>();
        CameraViewDialog dialog;
        dialog.view()->captureThread()->setFrameSourceFactory(scriptedFactory(log, blueFrame));
        dialog.SetCamera(1);
        QCOMPARE(dialog.view()->captureThread()->frameWidth(), 2592);
        QCOMPARE(dialog.view()->captureThread()->frameHeight(), 1944);
        QSignalSpy opened(dialog.view(), &QCameraView::openCameraSignal);
        QVERIFY(opened.wait(3000));
    }

    void closingEmitsCloseViewWhileStillVisible()
    {
        auto log = std::make_shared<ScriptedLog>();
        CameraViewDialog dialog;
        dialog.view()->captureThread()->setFrameSourceFactory(scriptedFactory(log, blueFrame));
        auto *label = dialog.findChild<QLabel *>(QStringLiteral("label"));
        dialog.show();
        dialog.SetCamera(1);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.getChildImage().isNull() && !label->isVisible(), 5000);

        QList<QPair<bool, bool>> seen; // (argument, visible at the time)
        connect(&dialog, &CameraViewDialog::closeView, &dialog,
                [&](bool open) { seen.append({open, dialog.isVisible()}); });
        dialog.close();
        QCOMPARE(seen.size(), 1);
        QCOMPARE(seen.first(), qMakePair(false, true));
        QVERIFY(!dialog.isVisible());
        QVERIFY(!dialog.view()->captureThread()->isCameraOpen());
        QVERIFY(dialog.view()->isOpening());
        QVERIFY(!label->isHidden());
        // The last picture stays behind.
        QVERIFY(!dialog.getChildImage().isNull());
        QVERIFY(log->snapshot().contains(QStringLiteral("release cam1")));
    }
};

QTEST_MAIN(TestCameraViewDialog)
#include "test_cameraviewdialog.moc"
