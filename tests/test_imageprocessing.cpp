#include "app/cache.h"
#include "engine/deskscene.h"
#include "engine/imageprocessing.h"
#include "support/scriptedframesource.h"
#include "support/workingdir.h"

#include <QElapsedTimer>
#include <QtTest>

#include <opencv2/videoio.hpp>

#include <atomic>
#include <thread>

namespace {

cv::Mat deskFrame(int)
{
    static const cv::Mat frame = drawDeskScene(cv::Size(640, 480), {{{320, 240}, {400, 300}, 0.0f}});
    return frame.clone();
}

QString prop(int id, double value)
{
    return QStringLiteral("set %1 %2").arg(id).arg(value);
}

// Receives pictures on the GUI thread, as the preview widget does.
class Receiver : public QObject {
    Q_OBJECT
public:
    // Takes the engine's pictures through the same blocking hand-over the widget uses.
    explicit Receiver(ImageProcessing &engine)
    {
        connect(&engine, &ImageProcessing::sendFarmeSignal, this, &Receiver::onFrame, Qt::BlockingQueuedConnection);
    }
    int frames = 0;
    QImage last;
public slots:
    void onFrame(QImage image)
    {
        ++frames;
        last = image;
    }
};

} // namespace

class TestImageProcessing : public QObject {
    Q_OBJECT

    ScopedWorkingDir *m_wd = nullptr;
    std::shared_ptr<ScriptedLog> m_log;

private slots:
    void init()
    {
        m_wd = new ScopedWorkingDir;
        Cache::config->update([this](ConfigValues &v) {
            v.imageFourcc = 0;
            v.userDocumentsLocation = m_wd->file("work");
        });
        Cache::config->outputSizes = standardOutputSizes();
        Cache::cameras->clear();
        for (int i = 0; i < 3; ++i) {
            CameraInfo c;
            c.index = i;
            c.path = QStringLiteral("/dev/video%1").arg(i);
            c.sizes = {QSize(1280, 720), QSize(640, 480)};
            Cache::cameras->append(c);
        }
        m_log = std::make_shared<ScriptedLog>();
    }

    void cleanup()
    {
        delete m_wd;
        m_wd = nullptr;
    }

    void openSetsFormatRateAndSizeInOrder()
    {
        ImageProcessing engine;
        engine.setFrameSourceFactory(scriptedFactory(m_log, deskFrame));
        engine.setCameraIndex(1);
        engine.setFrameWidthAndHeight(1280, 720);
        engine.openCamara();
        QVERIFY(engine.isCameraOpen());
        const QStringList calls = m_log->take();
        // Two wake-up opens, then the real one configured: format, width, height, rate.
        QCOMPARE(calls.mid(0, 5), (QStringList{"open /dev/video1", "release /dev/video1", "open /dev/video1",
                                                "release /dev/video1", "open /dev/video1"}));
        QCOMPARE(calls.mid(5), (QStringList{prop(cv::CAP_PROP_FOURCC, cv::VideoWriter::fourcc('M', 'J', 'P', 'G')),
                                             prop(cv::CAP_PROP_FRAME_WIDTH, 1280),
                                             prop(cv::CAP_PROP_FRAME_HEIGHT, 720), prop(cv::CAP_PROP_FPS, 100)}));
    }

    void widthAboveCapIsOpenedAt3264x2448()
    {
        ImageProcessing engine;
        engine.setFrameSourceFactory(scriptedFactory(m_log, deskFrame));
        engine.setFrameWidthAndHeight(4640, 3452);
        engine.openCamara();
        QCOMPARE(engine.frameWidth(), 3264);
        QCOMPARE(engine.frameHeight(), 2448);
        QVERIFY(m_log->take().contains(prop(cv::CAP_PROP_FRAME_HEIGHT, 2448)));

        engine.setFrameWidthAndHeight(3264, 1836);
        engine.openCamara();
        QCOMPARE(engine.frameHeight(), 1836);
        QVERIFY(m_log->take().contains(prop(cv::CAP_PROP_FRAME_HEIGHT, 1836)));
    }

    void pixelFormatOnlyFromTheTable_data()
    {
        QTest::addColumn<int>("fourcc");
        QTest::addColumn<bool>("set");
        QTest::newRow("YUYV") << 1 << true;
        QTest::newRow("FLV1") << 7 << true;
        QTest::newRow("8") << 8 << false;
        QTest::newRow("-1") << -1 << false;
    }

    void pixelFormatOnlyFromTheTable()
    {
        QFETCH(int, fourcc);
        QFETCH(bool, set);
        Cache::config->update([fourcc](ConfigValues &v) { v.imageFourcc = fourcc; });
        ImageProcessing engine;
        engine.setFrameSourceFactory(scriptedFactory(m_log, deskFrame));
        engine.openCamara();
        const QStringList calls = m_log->take();
        const QString prefix = QStringLiteral("set %1 ").arg(cv::CAP_PROP_FOURCC);
        const QStringList formatCalls = calls.filter(QRegularExpression("^" + prefix));
        QCOMPARE(formatCalls.size(), set ? 1 : 0);
        if (fourcc == 1)
            QCOMPARE(formatCalls.first(), prop(cv::CAP_PROP_FOURCC, cv::VideoWriter::fourcc('Y', 'U', 'Y', 'V')));
    }

    void exposureSequences_data()
    {
        QTest::addColumn<bool>("v4l2");
        QTest::addColumn<QStringList>("automatic");
        QTest::addColumn<QStringList>("manual");
        QTest::newRow("generic") << false
                                 << QStringList{prop(cv::CAP_PROP_AUTO_EXPOSURE, 1), prop(cv::CAP_PROP_AUTOFOCUS, 1),
                                                prop(cv::CAP_PROP_SETTINGS, 0)}
                                 << QStringList{prop(cv::CAP_PROP_AUTO_EXPOSURE, 0), prop(cv::CAP_PROP_EXPOSURE, -3)};
        // Video4Linux2 takes its menu values, 3 automatic and 1 manual, and
        // the exposure in 100 µs units: 2^-3 s is 1250.
        QTest::newRow("video4linux2") << true
                                      << QStringList{prop(cv::CAP_PROP_AUTO_EXPOSURE, 3),
                                                     prop(cv::CAP_PROP_AUTOFOCUS, 1)}
                                      << QStringList{prop(cv::CAP_PROP_AUTO_EXPOSURE, 1),
                                                     prop(cv::CAP_PROP_EXPOSURE, 1250)};
    }

    void exposureSequences()
    {
        QFETCH(bool, v4l2);
        QFETCH(QStringList, automatic);
        QFETCH(QStringList, manual);
        ImageProcessing engine;
        engine.setFrameSourceFactory(scriptedFactory(m_log, deskFrame, true, v4l2));
        engine.openCamara();
        m_log->take();
        engine.setCameraExposure(-100);
        QCOMPARE(m_log->take(), automatic);
        engine.setCameraExposure(-3);
        QCOMPARE(m_log->take(), manual);
    }

    void cameraIndexOutsideTheListStaysClosed()
    {
        ImageProcessing engine;
        engine.setFrameSourceFactory(scriptedFactory(m_log, deskFrame));
        for (int index : {3, -1, 100}) {
            engine.setCameraIndex(index);
            engine.openCamara();
            QVERIFY(!engine.isCameraOpen());
        }
        QVERIFY(m_log->take().isEmpty());
    }

    void requestsRunPhotographThenReopenThenRead()
    {
        ImageProcessing engine;
        engine.setFrameSourceFactory(scriptedFactory(m_log, deskFrame));
        Receiver receiver(engine);
        connect(&engine, &ImageProcessing::sendTakePhotoImageSignal, &engine,
                [this](QList<QString>, int kind) { m_log->add(QStringLiteral("photo %1").arg(kind)); },
                Qt::DirectConnection);
        connect(&engine, &ImageProcessing::closeCameraSignal, &engine, [this] { m_log->add("closed"); },
                Qt::DirectConnection);

        // Both requests wait before the loop starts, so one pass sees them together.
        engine.setCameraResolution(QSize(640, 480));
        engine.setTakePhotoCammond(QImage(), QImage(), false, false);
        engine.setTakePhotoCammond(QImage(), QImage(), false, false);
        engine.begin();
        QTRY_VERIFY(receiver.frames >= 2);
        engine.end();
        // A picture may be in flight to this thread; the loop ends once it is taken.
        QTRY_VERIFY(engine.isFinished());

        const QStringList calls = m_log->take();
        QCOMPARE(calls.filter("photo").size(), 1); // raised twice, carried out once
        const int photo = calls.indexOf("photo 0");
        const int closed = calls.indexOf("closed");
        const int opened = calls.lastIndexOf("open /dev/video0");
        QVERIFY(photo >= 0 && closed > photo && opened > closed);
        QVERIFY(calls.contains(prop(cv::CAP_PROP_FRAME_WIDTH, 640)));
        QCOMPARE(receiver.last.size(), QSize(640, 480));
    }

    void reopenAtNewSizeReleasesOnTheCaptureThread()
    {
        ImageProcessing engine;
        engine.setFrameSourceFactory(scriptedFactory(m_log, deskFrame));
        Receiver receiver(engine);
        std::atomic<bool> closedOnCaptureThread{false};
        connect(&engine, &ImageProcessing::closeCameraSignal, &engine,
                [&] { closedOnCaptureThread = QThread::currentThread() == &engine; }, Qt::DirectConnection);
        engine.begin();
        engine.setFrameWidthAndHeight(1280, 720);
        engine.openCamara();
        QTRY_VERIFY(receiver.frames >= 1);
        m_log->take();

        engine.setCameraResolution(QSize(640, 480));
        QTRY_VERIFY(closedOnCaptureThread.load());
        const int before = receiver.frames;
        QTRY_VERIFY(receiver.frames > before + 1);
        engine.end();
        const QStringList calls = m_log->take();
        QVERIFY(calls.indexOf("release /dev/video0") < calls.lastIndexOf("open /dev/video0"));
        QVERIFY(calls.contains(prop(cv::CAP_PROP_FRAME_WIDTH, 640)));
        QCOMPARE(engine.frameWidth(), 640);
    }

    void failedReadsPauseAndTheCameraIsOpenedAgain()
    {
        std::atomic<int> reads{0};
        // A camera that delivers nothing for its first 40 reads, as if unplugged, then comes back.
        auto frames = [&reads](int) {
            return ++reads > 40 ? deskFrame(0) : cv::Mat();
        };
        ImageProcessing engine;
        engine.setFrameSourceFactory(scriptedFactory(m_log, frames));
        Receiver receiver(engine);
        engine.begin();
        engine.openCamara();
        QTest::qWait(330);
        // About 38 ms a failed pass (read plus pause), not a spinning loop.
        QVERIFY2(reads.load() <= 12, qPrintable(QString::number(reads.load())));
        QTRY_VERIFY_WITH_TIMEOUT(receiver.frames > 0, 5000);
        engine.end();
        // After a run of failures the camera was opened again.
        QVERIFY(m_log->take().count("open /dev/video0") >= 4);
    }

    void closeAndSwitchDoNotWaitForAStalledRead()
    {
        std::atomic<bool> stall{false};
        auto frames = [&stall](int) {
            if (stall.exchange(false))
                QThread::msleep(3000); // a camera that stopped answering
            return deskFrame(0);
        };
        ImageProcessing engine;
        engine.setFrameSourceFactory(scriptedFactory(m_log, frames));
        Receiver receiver(engine);
        engine.begin();
        engine.openCamara();
        QTRY_VERIFY(receiver.frames > 0);

        stall = true;
        QTest::qWait(100); // the loop is now inside the stalled read
        QElapsedTimer clock;
        clock.start();
        engine.closeCamara(true);
        engine.setCameraIndex(2);
        engine.openCamara();
        engine.setCameraExposure(-3);
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));

        // Once the stalled read returns, the loop moves to the new camera.
        const int before = receiver.frames;
        QTRY_VERIFY_WITH_TIMEOUT(receiver.frames > before + 2, 6000);
        engine.end();
        const QStringList calls = m_log->take();
        QVERIFY(calls.contains("release /dev/video0"));
        QCOMPARE(calls.count("open /dev/video2"), 3);
        QVERIFY(calls.contains(prop(cv::CAP_PROP_EXPOSURE, -3)));
    }

    void currentFrameStaysIntactWhileTheLoopReads()
    {
        int counter = 0;
        auto frames = [&counter](int) { return cv::Mat(120, 160, CV_8UC3, cv::Scalar::all(++counter % 256)); };
        ImageProcessing engine;
        engine.setFrameSourceFactory(scriptedFactory(m_log, frames));
        Receiver receiver(engine);
        engine.begin();
        engine.openCamara();
        QTRY_VERIFY(receiver.frames > 0);
        for (int i = 0; i < 20; ++i) {
            const cv::Mat held = engine.currentFrame();
            QVERIFY(!held.empty());
            const cv::Mat copy = held.clone();
            QTest::qWait(15); // several frames replace the current one meanwhile
            QCOMPARE(cv::norm(held, copy, cv::NORM_INF), 0.0);
        }
        engine.end();
    }

    void reConfigUsesSettingsCameraAndSize()
    {
        Cache::config->update([](ConfigValues &v) {
            v.cameraIndex = 1;
            v.imageResolution = 1;
        });
        ImageProcessing engine;
        engine.reConfigVideoSetting();
        QCOMPARE(engine.frameWidth(), 640);
        QCOMPARE(engine.frameHeight(), 480);

        // A size index the camera does not offer falls back to its first size.
        Cache::config->update([](ConfigValues &v) { v.imageResolution = 9; });
        engine.reConfigVideoSetting();
        QCOMPARE(engine.frameWidth(), 1280);
        Cache::config->update([](ConfigValues &v) {
            v.cameraIndex = 0;
            v.imageResolution = 0;
        });
    }

    void photographsWhileTheGuiChangesSettings()
    {
        ImageProcessing engine;
        engine.setFrameSourceFactory(scriptedFactory(m_log, deskFrame));
        Receiver receiver(engine);
        QList<QString> written;
        int results = 0;
        connect(&engine, &ImageProcessing::sendTakePhotoImageSignal, &receiver,
                [&](QList<QString> paths, int kind) {
                    QCOMPARE(kind, 0);
                    written += paths;
                    ++results;
                },
                Qt::BlockingQueuedConnection);
        Cache::config->update([](ConfigValues &v) {
            v.saveType = 0;
            v.savePrefix = "IMG";
            v.saveNumber = 1;
            v.imageOutResolution = 11;
            v.watermarkTime = true;
        });
        engine.begin();
        engine.openCamara();
        QTRY_VERIFY(receiver.frames > 0);

        const QImage inset(64, 48, QImage::Format_RGB888);
        int requests = 0;
        for (int i = 0; i < 40; ++i) {
            // Edits the capture thread may observe mid-photograph; each one goes through the lock.
            Cache::config->update([i](ConfigValues &v) {
                v.watermarkText = QStringLiteral("page %1").arg(i);
                v.watermarkTime = i % 2;
                v.imageQuality = 50 + i;
                v.watermarkX = i % 100;
            });
            engine.setCameraShootType(i % 4);
            engine.setCameraCorrection(i % 2 ? 0 : 2);
            engine.setAngle(1);
            engine.setTakePhotoChildCamera(i % 3 == 0);
            if (i % 4 == 0) {
                engine.setTakePhotoCammond(inset, QImage(), true, false);
                ++requests;
            }
            QTest::qWait(15);
        }
        QTRY_VERIFY_WITH_TIMEOUT(results >= 1, 10000);
        QTest::qWait(500);
        engine.end();
        QTRY_VERIFY(engine.isFinished());
        QVERIFY(results <= requests);
        QVERIFY(!written.isEmpty());
        QSet<QString> distinct;
        for (const QString &path : written) {
            QVERIFY2(QFile::exists(path), qPrintable(path));
            distinct.insert(path);
        }
        QCOMPARE(distinct.size(), written.size());
    }

    void endStopsTheLoopWithinASecond()
    {
        ImageProcessing engine;
        engine.begin();
        QTRY_VERIFY(engine.isRunning());
        QElapsedTimer clock;
        clock.start();
        engine.end();
        QVERIFY(engine.isFinished());
        QVERIFY(clock.elapsed() < 1000);
    }
};

QTEST_MAIN(TestImageProcessing)
#include "test_imageprocessing.moc"
