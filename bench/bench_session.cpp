// The capture session as the program runs it: the main window, shown, on a
// simulated Motion-JPEG camera (tests/v4l2sim, preloaded). What the process
// spends per second of preview, beside what it spends when every frame is
// decoded whole; and the longest the preview stands still while photographs
// with several cut-outs are taken.
#include "bench.h"

#include "app/cache.h"
#include "app/deviceprobe.h"
#include "app/discovery.h"
#include "engine/imageprocessing.h"
#include "mainwindow/mainwindowqcamera.h"
#include "support/simulatedcameras.h"
#include "views/qcameraview.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kMeasureMs = 10000;
constexpr int kSettleMs = 1500;
constexpr int kShots = 5;
constexpr int kShotSpacingMs = 1500;

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop as the program does, sleeping while nothing happens.
void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until `done` holds or `ms` have passed.
template <typename Done> void spinUntil(const Done &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        spin(5);
}

// The program's window on one simulated camera of this size, in a scratch
// directory (the window writes its settings where it runs).
class Program {
public:
    explicit Program(QSize size)
    {
        m_previousDir = QDir::currentPath();
        QDir::setCurrent(m_scratch.path());
        m_sim.setNodes({QStringLiteral("/dev/video0 camera card=\"Bench Cam\" formats=MJPG sizes=%1x%2 fps=30")
                            .arg(size.width())
                            .arg(size.height())});
        SystemDeviceProbe probe;
        *Cache::cameras = discoverAll(probe);
        Cache::config->update([&](ConfigValues &v) {
            v.cameraIndex = 0;
            v.imageFourcc = 0;
            v.imageResolution = 0;
            v.saveType = 0;
            v.savePrefix = QStringLiteral("IMG");
            v.imageCodec = QStringLiteral("jpg");
            v.savePlaysound = false;
            v.userDocumentsLocation = m_scratch.filePath(QStringLiteral("work"));
        });
        m_window = std::make_unique<MainWindowQCamera>();
        m_window->show();
        m_view = m_window->findChild<QCameraView *>(QStringLiteral("video"));
    }

    ~Program()
    {
        m_window.reset();
        QDir::setCurrent(m_previousDir);
    }

    bool waitForPictures()
    {
        spinUntil([this] { return m_view->receivedFrames() >= 3; }, 20000);
        return m_view->receivedFrames() >= 3;
    }

    MainWindowQCamera &window() { return *m_window; }
    QCameraView &view() { return *m_view; }
    ImageProcessing &session() { return *m_view->captureThread(); }

private:
    QTemporaryDir m_scratch;
    QString m_previousDir;
    SimulatedCameras m_sim;
    std::unique_ptr<MainWindowQCamera> m_window;
    QCameraView *m_view = nullptr;
};

struct Rate {
    double cpuPerSecond = 0;
    double fps = 0;
};

Rate measure(Program &program)
{
    spin(kSettleMs);
    const int frames = program.view().receivedFrames();
    const double cpu = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    spin(kMeasureMs);
    const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    return {(cpuSeconds() - cpu) / seconds, (program.view().receivedFrames() - frames) / seconds};
}

int benchRate(QSize size, double cpuTarget)
{
    Program program(size);
    if (!program.waitForPictures()) {
        std::printf("session %dx%d: the simulated camera gave no picture\n", size.width(), size.height());
        return 1;
    }
    const Rate reduced = measure(program);
    const QSize shown = program.view().size();
    program.session().setReducedDecoding(false);
    const Rate whole = measure(program);
    std::printf("session %dx%d mjpeg fps=30 cpu_per_s=%.2f fps=%.1f\n", size.width(), size.height(),
                reduced.cpuPerSecond, reduced.fps);
    std::printf("  every frame decoded whole: cpu_per_s=%.2f fps=%.1f; preview %dx%d; targets cpu_per_s <= %.2f, "
                "fps >= 29\n",
                whole.cpuPerSecond, whole.fps, shown.width(), shown.height(), cpuTarget);
    return reduced.cpuPerSecond <= cpuTarget && reduced.fps >= 29.0 ? 0 : 1;
}

int benchShotGap()
{
    constexpr double kTargetMs = 50.0;
    const QSize size(3264, 2448);
    Program program(size);
    if (!program.waitForPictures()) {
        std::printf("session shot-gap: the simulated camera gave no picture\n");
        return 1;
    }
    // Every document on the desk cut out: the simulated desk carries three sheets.
    program.window().findChild<QAbstractButton *>(QStringLiteral("rb_correction_12"))->click();
    auto *shoot = program.window().findChild<QAbstractButton *>(QStringLiteral("btnShooting"));
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> arrivals;
    const QMetaObject::Connection connection =
        QObject::connect(&program.session(), &ImageProcessing::sendFarmeSignal,
                         [&](const QImage &) { arrivals.push_back(clock.elapsed()); });
    int photographs = 0;
    const QMetaObject::Connection written = QObject::connect(
        &program.session(), &ImageProcessing::sendTakePhotoImageSignal,
        [&](const QList<QString> &paths, int) { photographs += static_cast<int>(paths.size()); });
    spin(kSettleMs);
    std::vector<std::pair<qint64, qint64>> shots;
    for (int i = 0; i < kShots; ++i) {
        const qint64 pressed = clock.elapsed();
        const int before = photographs;
        shoot->click();
        spinUntil([&] { return photographs != before; }, 10000);
        shots.emplace_back(pressed, clock.elapsed());
        spin(kShotSpacingMs);
    }
    QObject::disconnect(connection);
    QObject::disconnect(written);

    // The longest gap between two pictures shown while a photograph was on
    // its way, beside the longest at other times (what the machine itself costs).
    qint64 during = 0;
    qint64 otherwise = 0;
    for (size_t i = 1; i < arrivals.size(); ++i) {
        const qint64 gap = arrivals[i] - arrivals[i - 1];
        const bool inShot = std::any_of(shots.begin(), shots.end(), [&](const std::pair<qint64, qint64> &shot) {
            return arrivals[i] >= shot.first && arrivals[i - 1] <= shot.second;
        });
        (inShot ? during : otherwise) = std::max(inShot ? during : otherwise, gap);
    }
    std::vector<double> shotMs;
    for (const auto &[pressed, done] : shots)
        shotMs.push_back(static_cast<double>(done - pressed));
    std::printf("session shot-gap %dx%d ms=%lld\n", size.width(), size.height(), static_cast<long long>(during));
    std::printf("  %d shots, %d files written, median %.0f ms from click to files; longest gap between shots %lld ms; "
                "target ms <= %.0f\n",
                kShots, photographs, medianMs(shotMs), static_cast<long long>(otherwise), kTargetMs);
    return during <= kTargetMs && photographs >= kShots ? 0 : 1;
}

int benchSession()
{
    if (!SimulatedCameras::isLoaded()) {
        std::printf("session: the simulated camera is not preloaded\n");
        return 1;
    }
    int failures = 0;
    failures += benchRate(QSize(3264, 2448), 0.5);
    failures += benchRate(QSize(1920, 1080), 0.25);
    failures += benchShotGap();
    return failures;
}

} // namespace

VORLANT_BENCH_GROUP("session", benchSession);
