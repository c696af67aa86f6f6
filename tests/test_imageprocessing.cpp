#include "app/cache.h"
#include "scenes/deskscene.h"
#include "engine/imageprocessing.h"
#include "support/scriptedframesource.h"
#include "support/workingdir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImageReader>
#include <QSet>
#include <QSignalSpy>
#include <QTimer>
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
    explicit Receiver(ImageProcessing &engine)
    {
        connect(&engine, &ImageProcessing::sendFarmeSignal, this, &Receiver::onFrame);
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

// Counts the frames a loop hands over, on the loop's thread, as a recording takes them.
struct CountingSink : FrameSink {
    std::atomic<int> frames{0};
    std::atomic<bool> allJpeg{true};
    std::atomic<int> width{0};
    void frameCaptured(const CapturedFrame &frame) override
    {
        ++frames;
        allJpeg = allJpeg && frame.jpeg;
        width = frame.size.width;
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
        QVERIFY(engine.isFinished());

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

    void silentCameraIsOpenedAgainByTime_data()
    {
        QTest::addColumn<int>("readWaitMs");
        QTest::addColumn<int>("frameEvery");
        QTest::addColumn<bool>("reopens");
        // A failed pass sleeps like an idle one: about 38 ms, never a spinning loop.
        QTest::newRow("reads fail at once") << 0 << 0 << true;
        // A read that waits out its timeout must not stretch recovery to minutes.
        QTest::newRow("reads wait 400 ms") << 400 << 0 << true;
        // About one frame in 1.5 s (a long exposure in the dark) is slow, not stalled.
        QTest::newRow("a frame every 40th read") << 0 << 40 << false;
    }

    void silentCameraIsOpenedAgainByTime()
    {
        QFETCH(int, readWaitMs);
        QFETCH(int, frameEvery);
        QFETCH(bool, reopens);
        std::atomic<int> reads{0};
        auto frames = [&](int) {
            const int n = ++reads;
            if (readWaitMs > 0)
                QThread::msleep(static_cast<unsigned long>(readWaitMs));
            return frameEvery > 0 && n % frameEvery == 0 ? deskFrame(0) : cv::Mat();
        };
        ImageProcessing engine;
        engine.setFrameSourceFactory(scriptedFactory(m_log, frames));
        Receiver receiver(engine);
        engine.begin();
        engine.openCamara();
        QTest::qWait(330);
        if (readWaitMs == 0 && frameEvery == 0)
            QVERIFY2(reads.load() <= 12, qPrintable(QString::number(reads.load())));
        // The user picks the same camera again while the loop is reading: the
        // stall clock starts afresh once it is open (after a blocked read, on the loop).
        m_log->take();
        engine.openCamara();
        QTRY_COMPARE(m_log->snapshot().count("open /dev/video0"), 3);
        QElapsedTimer sinceOpen;
        sinceOpen.start();
        m_log->take();

        const int limitMs = ImageProcessing::kStallReopenMs + 1500;
        while (sinceOpen.elapsed() < limitMs && !m_log->snapshot().contains("open /dev/video0"))
            QTest::qWait(20);
        const bool reopened = m_log->snapshot().contains("open /dev/video0");
        const qint64 after = sinceOpen.elapsed();
        engine.end();
        QTRY_VERIFY(engine.isFinished());
        QCOMPARE(reopened, reopens);
        if (reopens)
            QVERIFY2(after >= ImageProcessing::kStallReopenMs - 50, qPrintable(QString::number(after)));
        QVERIFY(!m_log->snapshot().contains("busy /dev/video0"));
    }

    void newestCameraRequestWins_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("held");
        // The loop's reopen finds the GUI thread holding the camera (a slow control):
        // it must wait and release before it opens the device again.
        QTest::newRow("exposure during the reopen") << "exposure" << "/dev/video0";
        QTest::newRow("closed during the reopen") << "close" << "";
        QTest::newRow("switched during the reopen") << "switch" << "/dev/video2";
    }

    void newestCameraRequestWins()
    {
        QFETCH(QString, action);
        QFETCH(QString, held);
        ImageProcessing engine;
        engine.setFrameSourceFactory(scriptedFactory(m_log, deskFrame));
        Receiver receiver(engine);
        engine.begin();
        engine.setFrameWidthAndHeight(1280, 720);
        engine.openCamara();
        QTRY_VERIFY(receiver.frames > 0);

        // The loop takes the request at once and spends its close pause before reopening.
        engine.setCameraResolution(QSize(640, 480));
        QTest::qWait(100);
        m_log->add("gui");
        if (action == "exposure") {
            m_log->setDelayMs = 400;
            engine.setCameraExposure(-3);
            m_log->setDelayMs = 0;
        } else {
            engine.closeCamara(true);
            if (action == "switch") {
                engine.setCameraIndex(2);
                engine.openCamara();
            }
        }
        // Long enough for the reopen, and for a stalled camera to have been opened again.
        QTest::qWait(ImageProcessing::kStallReopenMs + 500);
        const int before = receiver.frames;
        QTest::qWait(200);
        const bool delivering = receiver.frames > before;
        engine.end();
        QTRY_VERIFY(engine.isFinished());

        const QStringList calls = m_log->snapshot();
        QVERIFY2(calls.filter("busy").isEmpty(), qPrintable(calls.join(", ")));
        if (action != "exposure")
            QVERIFY2(!calls.mid(calls.indexOf("gui")).contains("open /dev/video0"), qPrintable(calls.join(", ")));
        QCOMPARE(delivering, !held.isEmpty());
        if (!held.isEmpty())
            QCOMPARE(calls.filter(QRegularExpression("^open ")).last(), "open " + held);
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
        constexpr int kRequests = 8;
        ImageProcessing engine;
        engine.setFrameSourceFactory(scriptedFactory(m_log, deskFrame));
        Receiver receiver(engine);
        const QImage inset(64, 48, QImage::Format_RGB888);
        QList<QString> written;
        QList<int> kinds;
        connect(&engine, &ImageProcessing::sendTakePhotoImageSignal, &receiver,
                [&](QList<QString> paths, int kind) {
                    written += paths;
                    kinds << kind;
                    // Raised while the loop and the photograph worker run on: it must not be lost.
                    if (kinds.size() < kRequests)
                        engine.setTakePhotoCammond(inset, QImage(), kinds.size() % 3 == 0, false);
                });
        Cache::config->update([](ConfigValues &v) {
            v.saveType = 0;
            v.savePrefix = "IMG";
            v.saveNumber = 1;
            v.imageCodec = "jpg";
            v.imageOutResolution = 11;
        });
        engine.begin();
        engine.openCamara();
        QTRY_VERIFY(receiver.frames > 0);

        // Edits the capture thread may observe mid-photograph, all the while.
        int edit = 0;
        QTimer editor;
        connect(&editor, &QTimer::timeout, [&] {
            ++edit;
            Cache::config->update([edit](ConfigValues &v) {
                v.watermarkText = QStringLiteral("page %1").arg(edit);
                v.watermarkTime = edit % 2;
                v.imageQuality = 50 + edit % 50;
                v.watermarkX = edit % 100;
            });
            engine.setCameraShootType(edit % 4);
            engine.setCameraCorrection(edit % 2 ? 0 : 2);
            engine.setAngle(1);
            engine.setTakePhotoChildCamera(edit % 3 == 0);
        });
        editor.start(10);
        engine.setTakePhotoCammond(inset, QImage(), true, false);
        QTRY_COMPARE_WITH_TIMEOUT(kinds.size(), kRequests, 60000);
        QTest::qWait(300);
        editor.stop();
        engine.end();
        QTRY_VERIFY(engine.isFinished());

        // Every request answered once, as photographs.
        QCOMPARE(kinds, QVector<int>(kRequests, 0).toList());
        QVERIFY(written.size() >= kRequests);
        // Every number used once, none skipped, and nothing else left in the folder.
        QStringList names;
        for (int i = 0; i < written.size(); ++i)
            names << QStringLiteral("IMG_%1.jpg").arg(i + 1);
        QStringList got;
        for (const QString &path : written)
            got << QFileInfo(path).fileName();
        QCOMPARE(QSet<QString>(got.begin(), got.end()), QSet<QString>(names.begin(), names.end()));
        QCOMPARE(got.size(), names.size());
        QCOMPARE(QDir(m_wd->file("work")).entryList(QDir::Files | QDir::Hidden).size(), names.size());
        QCOMPARE(Cache::config->snapshot().saveNumber, written.size() + 1);
        // Every file whole: a complete JPEG stream that decodes.
        for (const QString &path : written) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray bytes = file.readAll();
            QVERIFY2(bytes.startsWith("\xff\xd8") && bytes.endsWith("\xff\xd9"), qPrintable(path));
            QImageReader reader(path);
            QVERIFY2(!reader.read().isNull(), qPrintable(path + reader.errorString()));
        }
    }

    // A camera that gives JPEG bytes is decoded for the preview no larger than
    // it is drawn; a photograph and a recording still get the whole frame.
    void jpegFramesDecodedOnlyAsFarAsNeeded_data()
    {
        QTest::addColumn<bool>("jpeg");
        QTest::addColumn<QSize>("shown");
        QTest::addColumn<QSize>("preview");
        QTest::newRow("drawn at 300x225") << true << QSize(300, 225) << QSize(320, 240);
        QTest::newRow("drawn at 700x525") << true << QSize(700, 525) << QSize(1280, 960);
        QTest::newRow("a camera giving pixels") << false << QSize(300, 225) << QSize(1280, 960);
    }

    void jpegFramesDecodedOnlyAsFarAsNeeded()
    {
        QFETCH(bool, jpeg);
        QFETCH(QSize, shown);
        QFETCH(QSize, preview);
        const cv::Size size(1280, 960);
        const cv::Mat scene = drawDeskScene(size, {{{600, 500}, {700, 520}, -8.0f}});
        Cache::config->update([](ConfigValues &v) {
            v.saveType = 0;
            v.savePrefix = "IMG";
            v.imageCodec = "png";
        });
        ImageProcessing engine;
        engine.setFrameSourceFactory(scriptedFactory(m_log, [&](int) { return scene; }, true, true, jpeg));
        engine.setCameraCorrection(1);
        engine.setPreviewSize(shown);
        CountingSink sink;
        engine.setFrameSink(&sink);
        Receiver receiver(engine);
        QSignalSpy written(&engine, &ImageProcessing::sendTakePhotoImageSignal);
        engine.begin();
        engine.openCamara();
        QTRY_VERIFY(receiver.frames >= 2);
        QCOMPARE(receiver.last.size(), preview);
        engine.setTakePhotoCammond(QImage(), QImage(), false, false);
        QVERIFY(written.wait(10000));
        engine.setFrameSink(nullptr);
        engine.end();

        QCOMPARE(sink.allJpeg.load(), jpeg);
        QCOMPARE(sink.width.load(), size.width);
        // The cut-out as the whole frame gives it, not as the preview's picture would.
        PhotoOptions options;
        options.correctionMode = 1;
        const QList<PhotoPicture> expected =
            buildPhotoPictures(engine.currentFrame(), options, CaptureRequest(), QSize(3264, 2448));
        const QList<QString> paths = written.first().first().value<QList<QString>>();
        QCOMPARE(paths.size(), 1);
        QCOMPARE(QImageReader(paths.first()).size(), expected.first().image.size());
        QVERIFY(expected.first().image.width() > 600);
    }

    // While the GUI thread is busy the loop reads on; afterwards the GUI
    // thread gets the newest picture once, not a queue of old ones.
    void loopNeverWaitsForTheGuiThread()
    {
        ImageProcessing engine;
        engine.setFrameSourceFactory(scriptedFactory(m_log, deskFrame));
        CountingSink sink;
        engine.setFrameSink(&sink);
        Receiver receiver(engine);
        engine.begin();
        engine.openCamara();
        QTRY_VERIFY(receiver.frames > 0);
        QCoreApplication::processEvents();

        const int readBefore = sink.frames.load();
        const int shownBefore = receiver.frames;
        QThread::msleep(600);
        const int readMeanwhile = sink.frames.load() - readBefore;
        QCoreApplication::processEvents();
        const int shown = receiver.frames - shownBefore;
        engine.setFrameSink(nullptr);
        engine.end();
        // A loop waiting for the GUI thread would read one frame at most.
        QVERIFY2(readMeanwhile >= 5, qPrintable(QString::number(readMeanwhile)));
        QVERIFY2(shown >= 1 && shown <= 2, qPrintable(QString::number(shown)));
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
