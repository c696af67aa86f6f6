#include "app/cache.h"
#include "app/discovery.h"
#include "mainwindow/startup.h"
#include "support/avifile.h"
#include "support/fakedeviceprobe.h"
#include "support/simulatedcameras.h"
#include "support/workingdir.h"
#include "support/xvfbserver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QImageReader>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

#include <linux/videodev2.h>

#include <csignal>
#include <functional>

namespace {

// Runs `check` on the event loop once `ready` holds, polling every 50 ms.
void whenReady(std::function<bool()> ready, std::function<void()> check)
{
    auto *timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [=] {
        // Events processed before exec() (the splash screen waits for the
        // window) would make a quit() there go unheard.
        if (QThread::currentThread()->loopLevel() == 0 || !ready())
            return;
        timer->stop();
        timer->deleteLater();
        check();
    });
    timer->start(50);
}

bool processFinished(QProcess &p, int ms)
{
    return p.state() == QProcess::NotRunning || p.waitForFinished(ms);
}

// Starts the real vorlant in `wd` on `x`, with the demo desk scene as its camera.
// Given `commands`, it presses the buttons named there, alone in its runtime folder.
bool startOnDemoScene(QProcess &vorlant, const XvfbServer &x, const ScopedWorkingDir &wd, bool ownHome,
                      const QString &commands = QString(), bool debugLines = true)
{
    const QString demo = qEnvironmentVariable("VORLANT_DEMO_SCENE");
    if (!QFile::exists(demo)) {
        qWarning() << "no demo scene at" << demo;
        return false;
    }
    QProcessEnvironment env = x.environment();
    env.insert("VORLANT_CAMERA_FILES", demo);
    // The program's debug lines are off unless asked for.
    if (debugLines)
        env.insert("QT_LOGGING_RULES", "vorlant.*.debug=true");
    else
        env.remove("QT_LOGGING_RULES");
    if (ownHome)
        env.insert("HOME", wd.path());
    if (!commands.isEmpty()) {
        env.insert("XDG_RUNTIME_DIR", wd.path());
        env.insert("LD_PRELOAD", QString::fromLocal8Bit(preloadAfterSanitizer(qgetenv("VORLANT_GUI_DRIVER"))));
        env.insert("VORLANT_GUI_COMMANDS", commands);
    }
    vorlant.setProcessEnvironment(env);
    vorlant.setWorkingDirectory(wd.path());
    vorlant.setProcessChannelMode(QProcess::MergedChannels);
    vorlant.start(qEnvironmentVariable("VORLANT_BINARY"), QStringList());
    return vorlant.waitForStarted();
}

// A signal must end the program within 2 s; a sanitizer build runs it
// several times slower.
#if defined(VORLANT_TSAN_BUILD) || defined(__SANITIZE_ADDRESS__)
constexpr qint64 kOrderlyEndMs = 6000;
#else
constexpr qint64 kOrderlyEndMs = 2000;
#endif

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        Cache::cameras->clear();
        Cache::config->outputSizes.clear();
        Cache::config->imageFormats.clear();
        qunsetenv("VORLANT_CAMERA_FILES");
    }

    void noCameraWarnsAndReturnsMinusOne()
    {
        FakeDeviceProbe probe;
        QString title, text;
        whenReady([] { return qobject_cast<QMessageBox *>(QApplication::activeModalWidget()) != nullptr; },
                  [&] {
                      auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                      title = box->windowTitle();
                      text = box->text();
                      box->button(QMessageBox::Ok)->click();
                  });
        const int result = runVorlant(*qApp, probe);
        QCOMPARE(result, -1);
        QCOMPARE(title, QString("警告"));
        QCOMPARE(text, QString("未检测到设备，请检查设备是否已经连接！"));
        QCOMPARE(Cache::config->appDirPath, QApplication::applicationDirPath());
        // Nothing past the warning ran.
        QVERIFY(Cache::config->outputSizes.isEmpty());
        QVERIFY(Cache::config->imageFormats.isEmpty());
    }

    void cameraFoundOpensWindowAndFillsStartValues()
    {
        ScopedWorkingDir wd;
        FakeDeviceProbe probe;
        FakeNode node;
        node.card = "Desk Cam";
        node.formats = {{"Motion-JPEG", V4L2_PIX_FMT_MJPEG, {QSize(1280, 720)}}};
        probe.nodes["/dev/video0"] = node;
        bool windowShown = false;
        // Showing the window may run a nested event loop (the splash waits for the
        // window to be exposed); a quit() that lands there is lost, so keep asking.
        QTimer quitter;
        QObject::connect(&quitter, &QTimer::timeout, qApp, &QApplication::quit);
        whenReady(
            [] {
                for (QWidget *w : QApplication::topLevelWidgets())
                    if (w->isVisible() && !qobject_cast<QMessageBox *>(w) && w->inherits("QSplashScreen") == false)
                        return true;
                return false;
            },
            [&] {
                windowShown = true;
                quitter.start(50);
            });
        QCOMPARE(runVorlant(*qApp, probe), 0);
        quitter.stop();
        QVERIFY(windowShown);
        QCOMPARE(Cache::cameras->size(), 1);
        QCOMPARE(Cache::cameras->first().name, QString("Desk Cam"));
        QCOMPARE(Cache::config->outputSizes, standardOutputSizes());
        QVERIFY(Cache::config->imageFormats.contains("jpg"));
        QVERIFY(Cache::config->imageFormats.contains("png"));
        // The window writes the settings when it goes.
        QVERIFY(QFile::exists(wd.file("system.ini")));
    }

    void realProgramWithoutCameraShowsWarning()
    {
        XvfbServer x;
        if (!x.isRunning())
            QSKIP("Xvfb is not installed");
        ScopedWorkingDir wd;
        QProcess vorlant;
        QProcessEnvironment env = x.environment();
        env.insert("VORLANT_CAMERA_FILES", wd.file("no-such-camera.avi"));
        vorlant.setProcessEnvironment(env);
        vorlant.setWorkingDirectory(wd.path());
        vorlant.start(qEnvironmentVariable("VORLANT_BINARY"), QStringList());
        QVERIFY(vorlant.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!x.findWindows("^警告$").isEmpty(), 40000);

        const QImage screen = x.screenshot();
        QVERIFY(!screen.isNull());
        // The box is drawn: the screen is no longer one flat colour.
        const QImage small = screen.scaled(64, 64);
        bool varied = false;
        for (int y = 0; y < small.height() && !varied; ++y)
            for (int xx = 0; xx < small.width() && !varied; ++xx)
                varied = small.pixel(xx, y) != small.pixel(0, 0);
        QVERIFY(varied);

        // Press Return in the box until it closes (the first key may come before it has focus).
        for (int attempt = 0; attempt < 10 && vorlant.state() != QProcess::NotRunning; ++attempt) {
            const QStringList boxes = x.findWindows("^警告$");
            if (!boxes.isEmpty()) {
                x.xdotool({"windowfocus", "--sync", boxes.first()});
                x.xdotool({"key", "Return"});
            }
            processFinished(vorlant, 1000);
        }
        QVERIFY(processFinished(vorlant, 5000));
        QCOMPARE(vorlant.exitStatus(), QProcess::NormalExit);
        QCOMPARE(vorlant.exitCode(), 255); // -1 as the shell sees it
        QVERIFY(QFile::exists(wd.file("system.ini")));
    }

    void realProgramOnDemoSceneReachesEventLoop()
    {
        XvfbServer x;
        if (!x.isRunning())
            QSKIP("Xvfb is not installed");
        ScopedWorkingDir wd;
        QProcess vorlant;
        QVERIFY(startOnDemoScene(vorlant, x, wd, false));
        QTRY_VERIFY_WITH_TIMEOUT(!x.findWindows("^vorlant$").isEmpty(), 40000);
        QTest::qWait(2000);
        QCOMPARE(vorlant.state(), QProcess::Running);
        const QImage screen = x.screenshot().convertToFormat(QImage::Format_RGB32);
        QVERIFY(!screen.isNull());
        // The live picture is on screen: a large area of the desk's colour.
        int desk = 0;
        for (int y = 0; y < screen.height(); y += 4) {
            const QRgb *line = reinterpret_cast<const QRgb *>(screen.constScanLine(y));
            for (int xx = 0; xx < screen.width(); xx += 4) {
                const QColor c(line[xx]);
                if (qAbs(c.red() - 74) < 16 && qAbs(c.green() - 66) < 16 && qAbs(c.blue() - 58) < 16)
                    ++desk;
            }
        }
        const int samples = (screen.width() / 4) * (screen.height() / 4);
        QVERIFY2(desk > samples / 10, qPrintable(QString("desk %1 of %2").arg(desk).arg(samples)));
        QVERIFY(QFile::exists(wd.file("system.ini")));
        vorlant.terminate();
        QVERIFY(processFinished(vorlant, 10000));
        const QByteArray log = vorlant.readAll();
        QVERIFY2(log.contains("this is vorlant program"), log.constData());
        QVERIFY(log.contains("Driver    Name: desk_demo.avi"));
    }

    // A user's terminal stays quiet: none of the lines above without the rule.
    void realProgramPrintsNoDebugLineByDefault()
    {
        XvfbServer x;
        if (!x.isRunning())
            QSKIP("Xvfb is not installed");
        ScopedWorkingDir wd;
        QProcess vorlant;
        QVERIFY(startOnDemoScene(vorlant, x, wd, false, QString(), false));
        QTRY_VERIFY_WITH_TIMEOUT(!x.findWindows("^vorlant$").isEmpty(), 40000);
        QTest::qWait(1000);
        vorlant.terminate();
        QVERIFY(processFinished(vorlant, 10000));
        const QString log = QString::fromUtf8(vorlant.readAll());
        const QRegularExpression ours("this is vorlant program|Driver    Name|Picture Format|width: \\d|fourcc|"
                                      "^(true|false)$|^[\\d.]+ [\\d.]+ [\\d.]+$",
                                      QRegularExpression::MultilineOption);
        QVERIFY2(!ours.match(log).hasMatch(), qPrintable(log));
    }

    // The whole road of one photograph: the real program on the camera stand-in,
    // its shoot button pressed with the mouse, the file found in the work directory.
    void realProgramTakesPhotographWithShootButton()
    {
        XvfbServer x;
        if (!x.isRunning())
            QSKIP("Xvfb is not installed");
        const QString demo = qEnvironmentVariable("VORLANT_DEMO_SCENE");
        ScopedWorkingDir wd;
        QProcess vorlant;
        // Its own home: factory settings, work directory ~/Tessaran.
        QVERIFY(startOnDemoScene(vorlant, x, wd, true));
        QTRY_VERIFY_WITH_TIMEOUT(!x.findWindows("^vorlant$").isEmpty(), 40000);
        const QString window = x.findWindows("^vorlant$").first();
        QTest::qWait(3000); // the stand-in's first pictures

        // btnShooting sits 41 pixels left of the right edge and 55 above the bottom.
        QProcess geometry;
        geometry.setProcessEnvironment(x.environment());
        geometry.start("xdotool", {"getwindowgeometry", "--shell", window});
        QVERIFY(geometry.waitForFinished(5000));
        QMap<QString, int> g;
        for (const QString &line : QString::fromLatin1(geometry.readAllStandardOutput()).split('\n'))
            g[line.section('=', 0, 0)] = line.section('=', 1).toInt();
        QVERIFY2(g["WIDTH"] >= 1026 && g["HEIGHT"] >= 690, qPrintable(QString::number(g["WIDTH"])));
        QVERIFY(x.xdotool({"mousemove", "--window", window, QString::number(g["WIDTH"] - 41),
                           QString::number(g["HEIGHT"] - 55), "click", "1"}));

        const QString photo = wd.file("Tessaran/IMG_1.jpg");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(photo), 20000);
        // The whole picture, scaled to the factory output width of 3264 pixels.
        const QSize scene = discoverCameraFiles(demo).first().sizes.first();
        QCOMPARE(QImageReader(photo).size(), QSize(3264, qRound(3264.0 * scene.height() / scene.width())));
        QCOMPARE(QDir(wd.file("Tessaran")).entryList(QDir::Files), QStringList{"IMG_1.jpg"});
        vorlant.terminate();
        QVERIFY(processFinished(vorlant, 10000));
    }

    void realProgramEndsInOrderOnSignal_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<int>("second"); // 0: none
        QTest::newRow("SIGTERM") << int(SIGTERM) << 0;
        QTest::newRow("SIGINT") << int(SIGINT) << 0;
        QTest::newRow("SIGHUP") << int(SIGHUP) << 0;
        // (Two of the same kind sent at once would merge into one.)
        QTest::newRow("SIGTERM and SIGINT, then the next start") << int(SIGTERM) << int(SIGINT);
    }

    // Logout, shutdown or kill while recording: the recording is completed
    // with its index and the settings are written, within 2 s. A second
    // signal ends the program at once; the next start repairs what it left.
    void realProgramEndsInOrderOnSignal()
    {
        QFETCH(int, signalNumber);
        QFETCH(int, second);
        XvfbServer x;
        if (!x.isRunning())
            QSKIP("Xvfb is not installed");
        ScopedWorkingDir wd;
        QFile press(wd.file("gui-commands"));
        QProcess vorlant;
        QVERIFY(startOnDemoScene(vorlant, x, wd, true, press.fileName()));
        QVERIFY2(QTest::qWaitFor([&] { return !x.findWindows("^vorlant$").isEmpty(); }, 40000), vorlant.readAll());
        QTest::qWait(3000); // the stand-in's first pictures
        QVERIFY(press.open(QIODevice::WriteOnly) && press.write("click btnShootingVideo\n") > 0 && press.flush());
        QDir videos(wd.file("Tessaran"));
        QTRY_COMPARE_WITH_TIMEOUT(videos.entryList({"*.part.avi"}, QDir::Files).size(), 1, 10000);
        QTest::qWait(1500);
        QVERIFY(QFile::remove(wd.file("system.ini")));

        QElapsedTimer clock;
        clock.start();
        ::kill(pid_t(vorlant.processId()), signalNumber);
        if (second)
            ::kill(pid_t(vorlant.processId()), second);
        QVERIFY(vorlant.waitForFinished(10000));
        const qint64 ms = clock.elapsed();
        qInfo("ended %lld ms after the signal", ms);

        if (second) {
            QCOMPARE(vorlant.exitStatus(), QProcess::CrashExit);
            QCOMPARE(videos.entryList({"*.part.avi"}, QDir::Files).size(), 1);
            QProcess next;
            QVERIFY(startOnDemoScene(next, x, wd, true, wd.file("no-commands")));
            // The box that names the recovered recording.
            QTRY_VERIFY_WITH_TIMEOUT(!x.findWindows("^警告$").isEmpty(), 40000);
            next.terminate();
            QVERIFY(next.waitForFinished(10000));
        } else {
            QCOMPARE(vorlant.exitStatus(), QProcess::NormalExit);
            QCOMPARE(vorlant.exitCode(), 0);
            QVERIFY2(ms < kOrderlyEndMs, qPrintable(QString::number(ms)));
            QVERIFY(QFile::exists(wd.file("system.ini")));
        }
        const QStringList left = videos.entryList(QDir::Files);
        QCOMPARE(left.size(), 1);
        QVERIFY2(!left.first().endsWith(".part.avi"), qPrintable(left.first()));
        const AviLayout layout = readAviLayout(videos.filePath(left.first()));
        QVERIFY(layout.closed);
        QVERIFY2(layout.indexEntries >= 10, qPrintable(QString::number(layout.indexEntries)));
        QVERIFY(layout.playedFrames > 0);
    }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
