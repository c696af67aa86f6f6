#include "app/discovery.h"
#include "scenes/deskscene.h"
#include "engine/mediafilesource.h"
#include "support/fakedeviceprobe.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <linux/videodev2.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

namespace {

FakeNode cameraNode(const QString &card, const QList<QSize> &sizes)
{
    FakeNode node;
    node.card = card;
    node.formats = {{"Motion-JPEG", V4L2_PIX_FMT_MJPEG, sizes}};
    return node;
}

QString writeVideo(const QString &path, cv::Size size, double fps, int frames)
{
    cv::VideoWriter writer(path.toStdString(), cv::CAP_OPENCV_MJPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'),
                           fps, size, true);
    for (int i = 0; i < frames; ++i) {
        cv::Mat frame(size, CV_8UC3, cv::Scalar(i * 10 % 256, 80, 40));
        writer.write(frame);
    }
    return path;
}

} // namespace

class TestDiscovery : public QObject {
    Q_OBJECT

private slots:
    void noNodeMeansNoCamera()
    {
        FakeDeviceProbe probe;
        QTest::ignoreMessage(QtDebugMsg, "open /dev/video0 error");
        QVERIFY(discoverCameras(probe).isEmpty());
        QCOMPARE(probe.opened, QStringList{"/dev/video0"});
    }

    void gapAtZeroHidesLaterCameras()
    {
        FakeDeviceProbe probe;
        probe.nodes["/dev/video1"] = cameraNode("Second", {QSize(640, 480)});
        QVERIFY(discoverCameras(probe).isEmpty());
        QCOMPARE(probe.opened, QStringList{"/dev/video0"});
    }

    void twoCamerasAreIndexedByNode()
    {
        FakeDeviceProbe probe;
        probe.nodes["/dev/video0"] = cameraNode("Desk Cam", {QSize(1920, 1080)});
        probe.nodes["/dev/video1"] = cameraNode("Side Cam", {QSize(640, 480)});
        const QList<CameraInfo> cameras = discoverCameras(probe);
        QCOMPARE(cameras.size(), 2);
        QCOMPARE(cameras[0].index, 0);
        QCOMPARE(cameras[0].path, QString("/dev/video0"));
        QCOMPARE(cameras[0].name, QString("Desk Cam"));
        QCOMPARE(cameras[1].index, 1);
        QCOMPARE(cameras[1].name, QString("Side Cam"));
        QCOMPARE(cameras[1].sizes, QList<QSize>{QSize(640, 480)});
        QVERIFY(!cameras[0].mediaFile);
        QCOMPARE(probe.openHandles, 0);
    }

    void firstFailingNodeEndsDiscovery_data()
    {
        QTest::addColumn<int>("failure");
        QTest::newRow("not a capture device") << 0;
        QTest::newRow("cannot be opened") << 1;
        QTest::newRow("capability query fails") << 2;
    }

    void firstFailingNodeEndsDiscovery()
    {
        QFETCH(int, failure);
        FakeDeviceProbe probe;
        probe.nodes["/dev/video0"] = cameraNode("Desk Cam", {QSize(1280, 720)});
        FakeNode bad = cameraNode("Bad", {QSize(640, 480)});
        bad.capture = failure != 0;
        bad.opens = failure != 1;
        bad.queryCapFails = failure == 2;
        probe.nodes["/dev/video1"] = bad;
        probe.nodes["/dev/video2"] = cameraNode("Third", {QSize(640, 480)});

        const QList<CameraInfo> cameras = discoverCameras(probe);
        QCOMPARE(cameras.size(), 1);
        QCOMPARE(cameras[0].name, QString("Desk Cam"));
        QVERIFY(!probe.opened.contains("/dev/video2"));
        QCOMPARE(probe.openHandles, 0);
    }

    void sizesOfEveryFormatKeptInEnumerationOrder()
    {
        FakeDeviceProbe probe;
        FakeNode node;
        node.formats = {{"Motion-JPEG", V4L2_PIX_FMT_MJPEG, {QSize(3264, 2448), QSize(1920, 1080)}},
                        {"YUYV 4:2:2", V4L2_PIX_FMT_YUYV, {QSize(3264, 2448), QSize(640, 480)}}};
        probe.nodes["/dev/video0"] = node;
        const QList<CameraInfo> cameras = discoverCameras(probe);
        QCOMPARE(cameras.size(), 1);
        const QList<QSize> expected = {QSize(3264, 2448), QSize(1920, 1080), QSize(3264, 2448), QSize(640, 480)};
        QCOMPARE(cameras[0].sizes, expected);
    }

    void cameraWithoutFormatsHasNoSizes()
    {
        FakeDeviceProbe probe;
        probe.nodes["/dev/video0"] = FakeNode();
        const QList<CameraInfo> cameras = discoverCameras(probe);
        QCOMPARE(cameras.size(), 1);
        QVERIFY(cameras[0].sizes.isEmpty());
    }

    void standInListsOneCameraPerFile()
    {
        QTemporaryDir dir;
        const QString still = dir.filePath("sheet.png");
        QVERIFY(cv::imwrite(still.toStdString(), drawDeskScene(cv::Size(800, 600), {})));
        const QString video = writeVideo(dir.filePath("desk.avi"), cv::Size(320, 240), 15.0, 5);
        const QString missing = dir.filePath("missing.avi");
        const QString garbage = dir.filePath("garbage.avi");
        QFile g(garbage);
        QVERIFY(g.open(QIODevice::WriteOnly));
        g.write("not a video at all");
        g.close();

        const QList<CameraInfo> cameras = discoverCameraFiles(still + ":" + video + ":" + missing + ":" + still);
        QCOMPARE(cameras.size(), 2);
        QCOMPARE(cameras[0].index, 0);
        QCOMPARE(cameras[0].path, still);
        QCOMPARE(cameras[0].name, QString("sheet.png"));
        QCOMPARE(cameras[0].sizes, QList<QSize>{QSize(800, 600)});
        QVERIFY(cameras[0].mediaFile);
        QCOMPARE(cameras[1].index, 1);
        QCOMPARE(cameras[1].name, QString("desk.avi"));
        QCOMPARE(cameras[1].sizes, QList<QSize>{QSize(320, 240)});

        QVERIFY(discoverCameraFiles(garbage + ":" + still).isEmpty());
    }

    void standInVariableOverridesDevices()
    {
        QTemporaryDir dir;
        const QString still = dir.filePath("sheet.png");
        QVERIFY(cv::imwrite(still.toStdString(), drawDeskScene(cv::Size(640, 480), {})));
        FakeDeviceProbe probe;
        probe.nodes["/dev/video0"] = cameraNode("Desk Cam", {QSize(1280, 720)});

        qputenv(kCameraFilesVariable, still.toUtf8());
        const QList<CameraInfo> withFiles = discoverAll(probe);
        qputenv(kCameraFilesVariable, "");
        const QList<CameraInfo> withDevices = discoverAll(probe);
        qunsetenv(kCameraFilesVariable);

        QCOMPARE(withFiles.size(), 1);
        QCOMPARE(withFiles[0].path, still);
        QCOMPARE(probe.opened.count("/dev/video0"), 1);
        QCOMPARE(withDevices.size(), 1);
        QCOMPARE(withDevices[0].path, QString("/dev/video0"));
    }

    void standInVideoLoopsAtItsOwnRate()
    {
        QTemporaryDir dir;
        const QString video = writeVideo(dir.filePath("short.avi"), cv::Size(160, 120), 20.0, 4);
        MediaFileSource source(video);
        QVERIFY(source.open());
        QCOMPARE(source.get(cv::CAP_PROP_FPS), 20.0);
        QElapsedTimer clock;
        clock.start();
        cv::Mat frame;
        QList<int> blues;
        for (int i = 0; i < 10; ++i) {
            QVERIFY(source.read(frame));
            QCOMPARE(frame.cols, 160);
            blues << frame.at<cv::Vec3b>(60, 80)[0];
        }
        // Ten frames at 20 per second take about half a second (the first comes at once).
        QVERIFY2(clock.elapsed() >= 400, qPrintable(QString::number(clock.elapsed())));
        // After the fourth frame the file starts again: frame 5 looks like frame 1.
        QVERIFY(qAbs(blues[4] - blues[0]) <= 3);
        QVERIFY(qAbs(blues[1] - blues[0]) >= 5);
        source.release();
        QVERIFY(!source.read(frame));
        QVERIFY(frame.empty());
    }

    void standInStillImageRepeats()
    {
        QTemporaryDir dir;
        const QString still = dir.filePath("card.png");
        QVERIFY(cv::imwrite(still.toStdString(), drawDeskScene(cv::Size(320, 200), {})));
        MediaFileSource source(still);
        QVERIFY(source.open());
        QCOMPARE(source.get(cv::CAP_PROP_FRAME_WIDTH), 320.0);
        cv::Mat a, b;
        QVERIFY(source.read(a));
        QVERIFY(source.read(b));
        QCOMPARE(cv::norm(a, b, cv::NORM_INF), 0.0);
        QVERIFY(a.data != b.data);
        QVERIFY(!MediaFileSource(dir.filePath("none.png")).open());
    }
};

QTEST_GUILESS_MAIN(TestDiscovery)
#include "test_discovery.moc"
