#include "app/cache.h"
#include "mainwindow/startup.h"
#include "support/fakedeviceprobe.h"
#include "support/workingdir.h"
#include "support/xvfbserver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

#include <linux/videodev2.h>

#include <functional>

namespace {

// Runs `check` on the event loop once `ready` holds, polling every 50 ms.
void whenReady(std::function<bool()> ready, std::function<void()> check)
{
    auto *timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [=] {
        if (!ready())
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
        const QString demo = qEnvironmentVariable("VORLANT_DEMO_SCENE");
        QVERIFY2(QFile::exists(demo), qPrintable(demo));
        ScopedWorkingDir wd;
        QProcess vorlant;
        QProcessEnvironment env = x.environment();
        env.insert("VORLANT_CAMERA_FILES", demo);
        vorlant.setProcessEnvironment(env);
        vorlant.setWorkingDirectory(wd.path());
        vorlant.setProcessChannelMode(QProcess::MergedChannels);
        vorlant.start(qEnvironmentVariable("VORLANT_BINARY"), QStringList());
        QVERIFY(vorlant.waitForStarted());
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
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
