// The real camera path (discovery's system probe, OpenCV's Video4Linux2 back
// end, the capture thread and the preview) against simulated device nodes.

#include "app/cache.h"
#include "app/deviceprobe.h"
#include "app/discovery.h"
#include "engine/imageprocessing.h"
#include "mainwindow/startup.h"
#include "support/avichunks.h"
#include "support/messageboxes.h"
#include "support/simulatedcameras.h"
#include "support/workingdir.h"
#include "support/xvfbserver.h"
#include "views/qcameraview.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

const QString kCamera = QStringLiteral(
    "/dev/video0 camera card=\"Desk Cam\" formats=MJPG,YUYV sizes=640x480,1280x720,1920x1080 fps=30");
const QString kSecondCamera =
    QStringLiteral("/dev/video1 camera card=\"Side Cam\" formats=MJPG sizes=640x480 fps=30 seed=5");
constexpr int kFrameWaitMs = 8000;

QStringList g_log;

void collectLog(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg)
        g_log << message;
}

QString describe(const CameraInfo &c)
{
    QStringList sizes;
    for (const QSize &s : c.sizes)
        sizes << QStringLiteral("%1x%2").arg(s.width()).arg(s.height());
    return QStringLiteral("%1 %2 %3 %4").arg(c.index).arg(c.path, c.name, sizes.join(QLatin1Char(',')));
}

// The nodes the record shows opened, in order.
QStringList opened(const SimulatedCameras &sim)
{
    QStringList paths;
    for (const QString &line : sim.record())
        if (line.contains(QLatin1String(" OPEN ")))
            paths << line.section(QLatin1Char(' '), 0, 0);
    return paths;
}

void discover()
{
    Cache::cameras->clear();
    SystemDeviceProbe probe;
    Cache::cameras->append(discoverAll(probe));
}

double cpuSeconds()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds another process has used, from /proc.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = stat.readAll().split(')').last().trimmed().split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

// The longest the GUI thread went without running its timers.
class GuiPulse {
public:
    GuiPulse()
    {
        m_clock.start();
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_longest = qMax(m_longest, m_clock.restart());
        });
        m_timer.start(20);
    }
    qint64 longestGapMs() const { return m_longest; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
};

// Opens camera `index` in a real preview and waits for its pictures.
void startPreview(QCameraView &view, int index)
{
    view.init(index);
    QTRY_VERIFY_WITH_TIMEOUT(view.receivedFrames() >= 3, kFrameWaitMs);
}

bool framesFlowAgain(QCameraView &view, int ms)
{
    const int before = view.receivedFrames();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QTest::qWait(50);
        if (view.receivedFrames() >= before + 3)
            return true;
    }
    return false;
}

} // namespace

class TestRealCamera : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!SimulatedCameras::isLoaded())
            QSKIP("the simulated camera library is not built");
        qunsetenv(kCameraFilesVariable);
    }

    void init()
    {
        Cache::config->update([](ConfigValues &v) {
            v.imageFourcc = 0;
            v.imageResolution = 0;
            v.cameraIndex = 0;
        });
    }

    void discovery_data()
    {
        QTest::addColumn<QStringList>("nodes");
        QTest::addColumn<QStringList>("cameras");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<QStringList>("probed");

        // A USB camera brings a metadata node after its capture node; the
        // metadata node's capabilities name video capture for the device as a whole.
        QTest::newRow("capture node, then its metadata node")
            << QStringList{"/dev/video0 camera card=\"Desk Cam\" formats=MJPG,YUYV sizes=640x480,1280x720",
                           "/dev/video1 metadata card=\"Desk Cam\"", "/dev/video2 camera"}
            << QStringList{"0 /dev/video0 Desk Cam 640x480,1280x720,640x480,1280x720"}
            << QStringList{"Driver    Name: Desk Cam", "Picture Format: Motion-JPEG", "width: 640 height: 480",
                           "width: 1280 height: 720", "Picture Format: YUYV 4:2:2", "width: 640 height: 480",
                           "width: 1280 height: 720"}
            << QStringList{"/dev/video0", "/dev/video1"};
        QTest::newRow("node without capture ends the list")
            << QStringList{"/dev/video0 camera card=\"A\" formats=YUYV sizes=320x240", "/dev/video1 output",
                           "/dev/video2 camera"}
            << QStringList{"0 /dev/video0 A 320x240"}
            << QStringList{"Driver    Name: A", "Picture Format: YUYV 4:2:2", "width: 320 height: 240"}
            << QStringList{"/dev/video0", "/dev/video1"};
        QTest::newRow("node that cannot be opened")
            << QStringList{"/dev/video0 camera card=\"文档摄像头\" formats=MJPG sizes=1920x1080",
                           "/dev/video1 denied", "/dev/video2 camera"}
            << QStringList{"0 /dev/video0 文档摄像头 1920x1080"}
            << QStringList{"Driver    Name: 文档摄像头", "Picture Format: Motion-JPEG", "width: 1920 height: 1080",
                           "open /dev/video1 error"}
            << QStringList{"/dev/video0", "/dev/video1"};
        QTest::newRow("two cameras")
            << QStringList{"/dev/video0 camera card=\"A\" formats=MJPG sizes=640x480",
                           "/dev/video1 camera card=\"B\" formats=YUYV sizes=320x240"}
            << QStringList{"0 /dev/video0 A 640x480", "1 /dev/video1 B 320x240"}
            << QStringList{"Driver    Name: A", "Picture Format: Motion-JPEG", "width: 640 height: 480",
                           "Driver    Name: B", "Picture Format: YUYV 4:2:2", "width: 320 height: 240",
                           "open /dev/video2 error"}
            << QStringList{"/dev/video0", "/dev/video1", "/dev/video2"};
        QTest::newRow("no first node") << QStringList{"/dev/video1 camera"} << QStringList{}
                                       << QStringList{"open /dev/video0 error"} << QStringList{"/dev/video0"};
        QTest::newRow("first node is no camera") << QStringList{"/dev/video0 metadata", "/dev/video1 camera"}
                                                 << QStringList{} << QStringList{} << QStringList{"/dev/video0"};
    }

    void discovery()
    {
        QFETCH(QStringList, nodes);
        QFETCH(QStringList, cameras);
        QFETCH(QStringList, log);
        QFETCH(QStringList, probed);
        SimulatedCameras sim;
        sim.setNodes(nodes);
        Cache::cameras->clear();
        g_log.clear();
        const QtMessageHandler previous = qInstallMessageHandler(collectLog);

        if (cameras.isEmpty()) {
            // Without a camera the program warns and ends before any window.
            ScopedWorkingDir wd;
            MessageBoxCloser boxes;
            QTimer quitter; // should a camera be found after all, end the window's loop
            connect(&quitter, &QTimer::timeout, [] {
                if (!Cache::cameras->isEmpty())
                    QApplication::quit();
            });
            quitter.start(50);
            SystemDeviceProbe probe;
            const int result = runVorlant(*qApp, probe);
            qInstallMessageHandler(previous);
            QCOMPARE(result, -1);
            QCOMPARE(boxes.seen, QStringList{"警告|未检测到设备，请检查设备是否已经连接！"});
        } else {
            discover();
            qInstallMessageHandler(previous);
        }

        QStringList found;
        for (const CameraInfo &c : *Cache::cameras)
            found << describe(c);
        QCOMPARE(found, cameras);
        const QStringList discoveryLines =
            g_log.filter(QRegularExpression("^(Driver    Name|Picture Format|width:|open /dev)"));
        QCOMPARE(discoveryLines, log);
        QCOMPARE(opened(sim), probed);
        // Every node opened was closed again.
        QCOMPARE(sim.record().filter(" CLOSE").size(), sim.record().filter(" OPEN = ok").size());
    }

    void capture_data()
    {
        QTest::addColumn<int>("fourcc");
        QTest::addColumn<int>("resolution");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("reopenBy");
        QTest::addColumn<int>("nextFourcc");
        QTest::addColumn<int>("nextResolution");
        QTest::addColumn<QString>("nextFormat");

        // Sizes are listed once per format: 0-2 under MJPG, 3-5 under YUYV.
        QTest::newRow("MJPG 1280x720, then 640x480 from the settings")
            << 0 << 1 << "MJPG 1280x720" << "settings" << 0 << 0 << "MJPG 640x480";
        QTest::newRow("YUYV 640x480, then MJPG 1920x1080 from the settings")
            << 1 << 3 << "YUYV 640x480" << "settings" << 0 << 2 << "MJPG 1920x1080";
        QTest::newRow("MJPG 640x480, then 1280x720 from the window")
            << 0 << 0 << "MJPG 640x480" << "window" << 0 << 1 << "MJPG 1280x720";
    }

    void capture()
    {
        QFETCH(int, fourcc);
        QFETCH(int, resolution);
        QFETCH(QString, format);
        QFETCH(QString, reopenBy);
        QFETCH(int, nextFourcc);
        QFETCH(int, nextResolution);
        QFETCH(QString, nextFormat);
        SimulatedCameras sim;
        sim.setNodes({kCamera});
        discover();
        QCOMPARE(Cache::cameras->size(), 1);
        Cache::config->update([&](ConfigValues &v) {
            v.imageFourcc = fourcc;
            v.imageResolution = resolution;
        });

        QCameraView view;
        startPreview(view, 0);
        const auto lastFormat = [&] { return sim.calls("/dev/video0", "S_FMT").last().section(" = ", 1); };
        QCOMPARE(lastFormat(), format);
        QCOMPARE(view.displayedImage().size(), Cache::cameras->at(0).sizes.at(resolution));
        // The camera was asked for 100 frames a second and answered with its own 30.
        QVERIFY(!sim.calls("/dev/video0", "S_PARM 100 = 30").isEmpty());

        Cache::config->update([&](ConfigValues &v) {
            v.imageFourcc = nextFourcc;
            v.imageResolution = nextResolution;
        });
        const QSize next = Cache::cameras->at(0).sizes.at(nextResolution);
        if (reopenBy == "settings")
            view.reConfigVideoSetting();
        else
            view.changeCamera(0, next.width(), next.height());
        QTRY_COMPARE_WITH_TIMEOUT(view.displayedImage().size(), next, kFrameWaitMs);
        QCOMPARE(lastFormat(), nextFormat);
        QVERIFY(framesFlowAgain(view, kFrameWaitMs));
        // Each new capture found the device free: the old one was let go first.
        QCOMPARE(sim.record().filter("EBUSY"), QStringList());
    }

    // A Motion-JPEG camera's frames stay its own bytes: the preview decodes
    // them no larger than it draws them and a recording stores them as they
    // came. A YUYV camera's pictures are shown whole and encoded for a recording.
    void compressedFramesStayCompressed_data()
    {
        QTest::addColumn<int>("fourcc");
        QTest::addColumn<int>("resolution");
        QTest::addColumn<bool>("jpeg");
        QTest::newRow("MJPG 1280x720") << 0 << 1 << true;
        QTest::newRow("YUYV 1280x720") << 1 << 4 << false;
    }

    void compressedFramesStayCompressed()
    {
        QFETCH(int, fourcc);
        QFETCH(int, resolution);
        QFETCH(bool, jpeg);
        SimulatedCameras sim;
        sim.setNodes({kCamera});
        discover();
        QTemporaryDir work;
        Cache::config->update([&](ConfigValues &v) {
            v.imageFourcc = fourcc;
            v.imageResolution = resolution;
            v.userDocumentsLocation = work.path();
        });
        const QSize camera(1280, 720);
        QCameraView view;
        view.resize(400, 300);
        view.show();
        startPreview(view, 0);
        // 1280 x 720 fitted into 400 x 300 is drawn 400 x 225: half the size is enough.
        QTRY_COMPARE_WITH_TIMEOUT(view.displayedImage().size(), jpeg ? camera / 2 : camera, kFrameWaitMs);

        QSignalSpy results(&view, &QCameraView::sendTakePhotoImageSignal);
        view.recordBegin();
        QVERIFY(view.isRecording());
        QTest::qWait(1500);
        const CapturedFrame newest = view.captureThread()->newestFrame();
        view.recordEnd();
        QTRY_COMPARE_WITH_TIMEOUT(results.count(), 1, 5000);
        QCOMPARE(newest.jpeg, jpeg);
        const QList<QByteArray> chunks = aviVideoChunks(results.first().first().value<QList<QString>>().first());
        QVERIFY2(chunks.size() >= 10, qPrintable(QString::number(chunks.size())));
        // The simulated camera sends one picture throughout a stream.
        const QByteArray cameraBytes(reinterpret_cast<const char *>(newest.data.ptr()),
                                     static_cast<int>(newest.data.total() * newest.data.elemSize()));
        int pictures = 0;
        for (const QByteArray &chunk : chunks) {
            if (chunk.isEmpty())
                continue;
            ++pictures;
            if (jpeg) {
                QCOMPARE(chunk, cameraBytes);
            } else {
                const std::vector<uchar> bytes(chunk.begin(), chunk.end());
                QCOMPARE(cv::imdecode(bytes, cv::IMREAD_COLOR).size(), cv::Size(camera.width(), camera.height()));
            }
        }
        QVERIFY(pictures > 0);
    }

    void exposure_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<QStringList>("controls");

        // The driver's menu takes 1 (manual) and 3 (aperture priority); the
        // absolute exposure counts 100 µs, the slider log2 seconds.
        QTest::newRow("automatic") << -100
                                   << QStringList{"S_CTRL exposure_auto 3 = 3", "S_CTRL focus_auto 1 = 1"};
        QTest::newRow("manual 1/8 s") << -3
                                      << QStringList{"S_CTRL exposure_auto 1 = 1",
                                                     "S_CTRL exposure_absolute 1250 = 1250"};
        QTest::newRow("manual 1/8192 s, below the camera's shortest")
            << -13 << QStringList{"S_CTRL exposure_auto 1 = 1", "S_CTRL exposure_absolute 1 = 3"};
    }

    void exposure()
    {
        QFETCH(int, value);
        QFETCH(QStringList, controls);
        SimulatedCameras sim;
        sim.setNodes({kCamera});
        discover();
        QCameraView view;
        startPreview(view, 0);
        view.setCameraExposure(value);
        QStringList sent;
        QTRY_VERIFY_WITH_TIMEOUT((sent = sim.record().filter(" S_CTRL ")).size() >= controls.size(), 3000);
        for (QString &line : sent)
            line = line.section(QLatin1Char(' '), 1);
        QCOMPARE(sent, controls);
        QVERIFY(framesFlowAgain(view, kFrameWaitMs));
    }

    void unplugAndReplug()
    {
        SimulatedCameras sim;
        sim.setNodes({kCamera});
        discover();
        QCameraView view;
        startPreview(view, 0);
        QSignalSpy closed(&view, &QCameraView::closeCameraSignal);
        QSignalSpy reopened(&view, &QCameraView::openCameraSignal);

        sim.command("unplug /dev/video0");
        QTRY_VERIFY_WITH_TIMEOUT(!closed.isEmpty(), 4000);
        QVERIFY(view.isOpening()); // the holder shows its notice
        // Unplugged, the capture thread waits for the camera without spinning.
        const double cpuBefore = cpuSeconds();
        QTest::qWait(2000);
        const double cpu = cpuSeconds() - cpuBefore;
        QVERIFY2(cpu < 0.4, qPrintable(QString("%1 s of CPU in 2 s").arg(cpu)));
        QVERIFY(view.isOpening());

        sim.command("replug /dev/video0");
        QVERIFY(framesFlowAgain(view, kFrameWaitMs));
        QVERIFY(!view.isOpening());
        QVERIFY(!reopened.isEmpty());
    }

    void stall_data()
    {
        QTest::addColumn<QString>("action");
        QTest::newRow("frames come back") << "wait";
        QTest::newRow("the user closes the camera") << "close";
        QTest::newRow("the user switches to another camera") << "switch";
    }

    void stall()
    {
        QFETCH(QString, action);
        SimulatedCameras sim;
        sim.setNodes({kCamera, kSecondCamera});
        discover();
        QCOMPARE(Cache::cameras->size(), 2);
        QCameraView view;
        startPreview(view, 0);
        QSignalSpy closed(&view, &QCameraView::closeCameraSignal);
        GuiPulse pulse;
        QElapsedTimer clock;
        clock.start();

        const int stallMs = action == "wait" ? 4000 : 60000;
        sim.command(QStringLiteral("stall /dev/video0 %1").arg(stallMs));
        QTRY_VERIFY_WITH_TIMEOUT(!closed.isEmpty(), 4000);
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString("notice after %1 ms").arg(clock.elapsed())));
        QVERIFY(view.isOpening());

        if (action == "wait") {
            QVERIFY(framesFlowAgain(view, stallMs + kFrameWaitMs));
            QVERIFY(!view.isOpening());
        } else {
            const int closesBefore = sim.calls("/dev/video0", "CLOSE").size();
            QElapsedTimer call;
            call.start();
            if (action == "close")
                view.closeCamara();
            else
                view.changeCamera(1, 640, 480);
            // The designed pause before a release is 500 ms; a read stuck on the
            // stalled camera must not add to it.
            QVERIFY2(call.elapsed() < 1200, qPrintable(QString("returned after %1 ms").arg(call.elapsed())));
            // Nor may it keep the stalled camera from being let go.
            QTRY_VERIFY_WITH_TIMEOUT(sim.calls("/dev/video0", "CLOSE").size() > closesBefore, 3000);
            if (action == "switch") {
                QVERIFY(framesFlowAgain(view, 4000));
                QVERIFY(!sim.calls("/dev/video1", "STREAMON = ok").isEmpty());
            }
        }
        QVERIFY2(pulse.longestGapMs() < 1200, qPrintable(QString("GUI stood still %1 ms").arg(pulse.longestGapMs())));
        QCOMPARE(sim.record().filter("EBUSY"), QStringList());
    }

    void busyCameraIsReported_data()
    {
        QTest::addColumn<bool>("otherProgram");
        QTest::newRow("another program holds the camera") << true;
        QTest::newRow("the camera refuses to stream") << false;
    }

    void busyCameraIsReported()
    {
        QFETCH(bool, otherProgram);
        SimulatedCameras sim;
        sim.setNodes({kCamera});
        discover();
        int holder = -1;
        if (otherProgram) {
            // Another program has the camera streaming.
            holder = ::open("/dev/video0", O_RDWR);
            QVERIFY(holder >= 0);
            v4l2_requestbuffers req{};
            req.count = 2;
            req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            req.memory = V4L2_MEMORY_MMAP;
            QCOMPARE(::ioctl(holder, VIDIOC_REQBUFS, &req), 0);
        } else {
            sim.command("busy /dev/video0 on");
        }
        QCameraView view;
        QSignalSpy warnings(&view, &QCameraView::warningSignal);
        view.init(0);
        QTRY_VERIFY_WITH_TIMEOUT(!warnings.isEmpty(), 4000);
        QVERIFY2(warnings.first().first().toString().contains("占用"), qPrintable(warnings.first().first().toString()));
        // Told once, not at every retry.
        QTest::qWait(3000);
        QCOMPARE(warnings.size(), 1);

        if (otherProgram)
            ::close(holder);
        else
            sim.command("busy /dev/video0 off");
        QVERIFY(framesFlowAgain(view, kFrameWaitMs));
    }

    // The real program under Xvfb: photograph, unplug, replug, photograph again.
    void wholeProgramAcrossUnplug()
    {
        XvfbServer x;
        if (!x.isRunning())
            QSKIP("Xvfb is not installed");
        ScopedWorkingDir wd;
        std::unique_ptr<SimulatedCameras> sim = SimulatedCameras::forChild();
        sim->setNodes({kCamera});
        const QString commands = wd.file("gui-commands");
        const auto press = [&](const char *button) {
            QFile f(commands);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Append));
            f.write(QByteArray("click ") + button + '\n');
        };
        QDir photos(wd.file("Tessaran"));

        QProcess vorlant;
        QProcessEnvironment env = sim->childEnvironment(x.environment());
        env.insert("LD_PRELOAD", env.value("LD_PRELOAD") + " " + qEnvironmentVariable("VORLANT_GUI_DRIVER"));
        env.insert("VORLANT_GUI_COMMANDS", commands);
        env.insert("HOME", wd.path()); // the work directory is under it
        vorlant.setProcessEnvironment(env);
        vorlant.setWorkingDirectory(wd.path());
        vorlant.setProcessChannelMode(QProcess::ForwardedChannels);
        vorlant.start(qEnvironmentVariable("VORLANT_BINARY"), QStringList());
        QVERIFY(vorlant.waitForStarted());
        const auto framesSince = [&](int line) {
            return sim->record().mid(line).filter(QRegularExpression("/dev/video0 DQBUF (1|30)$")).size();
        };
        QTRY_VERIFY_WITH_TIMEOUT(framesSince(0) >= 2, 40000);

        press("btnShooting");
        QTRY_COMPARE_WITH_TIMEOUT(photos.entryList(QDir::Files).size(), 1, 10000);

        sim->command("unplug /dev/video0");
        QTest::qWait(1000);
        const double cpuBefore = cpuSeconds(vorlant.processId());
        QTest::qWait(2000);
        const double cpu = cpuSeconds(vorlant.processId()) - cpuBefore;
        QCOMPARE(vorlant.state(), QProcess::Running);
        QVERIFY2(cpu < 0.6, qPrintable(QString("%1 s of CPU in 2 s while unplugged").arg(cpu)));

        const int replugAt = sim->record().size();
        sim->command("replug /dev/video0");
        QTRY_VERIFY_WITH_TIMEOUT(framesSince(replugAt) >= 2, 15000);
        press("btnShooting");
        QTRY_COMPARE_WITH_TIMEOUT(photos.entryList(QDir::Files).size(), 2, 10000);

        // The second photograph shows the camera as it came back, not the last
        // picture from before the unplug.
        const QStringList names = photos.entryList(QDir::Files, QDir::Time | QDir::Reversed);
        QFile first(photos.filePath(names.at(0))), second(photos.filePath(names.at(1)));
        QVERIFY(first.open(QIODevice::ReadOnly) && second.open(QIODevice::ReadOnly));
        QVERIFY(first.readAll() != second.readAll());
        vorlant.terminate();
        QVERIFY(vorlant.waitForFinished(10000));
    }
};

int main(int argc, char **argv)
{
    SimulatedCameras::preload(argc, argv);
    QApplication app(argc, argv);
    TestRealCamera test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_realcamera.moc"
