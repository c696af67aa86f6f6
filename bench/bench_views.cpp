// Preview painting and recording: how long one fitted repaint of a new
// camera picture takes, and how many preview pictures a second the widget
// still receives while a recording runs.
#include "bench.h"

#include "app/cache.h"
#include "scenes/deskscene.h"
#include "engine/frameconversion.h"
#include "views/displayscaling.h"
#include "views/qcameraview.h"
#include "recording/videorecorder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QThread>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <cstdio>

namespace {

constexpr int kPaintRuns = 31;
// "Cannot tell it from Qt's smooth scaling": under one level per channel on average.
constexpr double kMaxMeanDifference = 1.0;

double meanDifference(const QImage &a, const QImage &b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB888);
    const QImage y = b.convertToFormat(QImage::Format_RGB888);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int i = 0; i < x.width() * 3; ++i)
            sum += std::abs(x.constScanLine(row)[i] - y.constScanLine(row)[i]);
    return sum / (3.0 * x.width() * x.height());
}

double elapsedMs(const QElapsedTimer &clock)
{
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

int paintOne(cv::Size frameSize, QSize widgetSize)
{
    const QImage picture = matToQImage(drawDeskScene(frameSize, demoSheets(frameSize)));
    QCameraView view;
    view.resize(widgetSize);
    QImage target(widgetSize, QImage::Format_ARGB32_Premultiplied);

    std::vector<double> samples;
    for (int i = 0; i < kPaintRuns; ++i) {
        // A new picture each time, as from the camera: nothing scaled earlier can be reused.
        QMetaObject::invokeMethod(&view, "updateImage", Qt::DirectConnection, Q_ARG(QImage, picture.copy()));
        target.fill(Qt::white);
        QElapsedTimer clock;
        clock.start();
        view.render(&target, QPoint(), QRegion(), QWidget::DrawChildren);
        samples.push_back(elapsedMs(clock));
    }

    std::vector<double> reference;
    const QSize fitted = fittedPictureSize(picture.size(), widgetSize);
    QImage smooth;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer clock;
        clock.start();
        smooth = picture.scaled(fitted, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
        reference.push_back(elapsedMs(clock));
    }
    const QRect drawn(widgetSize.width() / 2 - fitted.width() / 2, widgetSize.height() / 2 - fitted.height() / 2,
                      fitted.width(), fitted.height());
    const double difference = meanDifference(target.copy(drawn), smooth.copy(0, 0, fitted.width(), fitted.height()));

    std::printf("paint %dx%d widget=%dx%d ms=%.2f\n", frameSize.width, frameSize.height, widgetSize.width(),
                widgetSize.height(), medianMs(samples));
    std::printf("  mean abs difference from QImage::scaled(smooth)=%.3f (limit %.1f); QImage::scaled alone ms=%.2f\n",
                difference, kMaxMeanDifference, medianMs(reference));
    return difference < kMaxMeanDifference ? 0 : 1;
}

int benchPaint()
{
    int failures = 0;
    failures += paintOne(cv::Size(3264, 2448), QSize(1000, 750));
    failures += paintOne(cv::Size(1920, 1080), QSize(1000, 750));
    return failures;
}

// The demo scene when the build provides it, else a short one drawn here.
QString standInVideo(const QTemporaryDir &scratch)
{
    const QString demo = qEnvironmentVariable("VORLANT_DEMO_SCENE");
    if (!demo.isEmpty() && QFileInfo::exists(demo))
        return demo;
    const QString path = scratch.filePath(QStringLiteral("scene.avi"));
    const cv::Size size(1920, 1080);
    cv::VideoWriter writer(path.toStdString(), cv::CAP_OPENCV_MJPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 30.0,
                           size, true);
    for (int i = 0; i < 30; ++i) {
        std::vector<DeskSheet> sheets = demoSheets(size);
        sheets[1].centre.x += static_cast<float>(i * 2);
        writer.write(drawDeskScene(size, sheets, static_cast<unsigned>(i + 1)));
    }
    return path;
}

double previewRate(QCameraView &view, int ms)
{
    const int before = view.receivedFrames();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return (view.receivedFrames() - before) * 1000.0 / static_cast<double>(clock.elapsed());
}

void spin(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

bool openAndWait(QCameraView &view)
{
    bool opened = false;
    const QMetaObject::Connection connection =
        QObject::connect(&view, &QCameraView::openCameraSignal, [&] { opened = true; });
    view.init(0);
    QElapsedTimer waited;
    waited.start();
    while (!opened && waited.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QObject::disconnect(connection);
    return opened;
}

void useStandInCamera(const QString &path, QSize size, const QString &workDirectory)
{
    CameraInfo camera;
    camera.path = path;
    camera.mediaFile = true;
    camera.sizes = {size};
    *Cache::cameras = {camera};
    Cache::config->update([&](ConfigValues &v) {
        v.imageResolution = 0;
        v.userDocumentsLocation = workDirectory;
    });
}

struct Results {
    int warnings = 0;
    QList<QList<QString>> files;
};

// Shows the widget at a window's size, collects what it reports and waits until its picture runs.
bool showAndOpen(QCameraView &view, Results &results)
{
    view.resize(1000, 750);
    view.show();
    QObject::connect(&view, &QCameraView::warningSignal, [&] { ++results.warnings; });
    QObject::connect(&view, &QCameraView::sendTakePhotoImageSignal,
                     [&](const QList<QString> &paths, int) { results.files << paths; });
    if (!openAndWait(view)) {
        std::printf("record: the stand-in camera delivered no picture\n");
        return false;
    }
    spin(1000);
    return true;
}

int benchRecordRate()
{
    constexpr int kMeasureMs = 5000;
    QTemporaryDir scratch;
    useStandInCamera(standInVideo(scratch), QSize(1920, 1080), scratch.path());

    QCameraView view;
    Results results;
    if (!showAndOpen(view, results))
        return 1;
    const double without = previewRate(view, kMeasureMs);

    view.recordBegin();
    spin(500);
    const double with = previewRate(view, kMeasureMs);
    view.recordEnd();
    QElapsedTimer waited;
    waited.start();
    while (results.files.isEmpty() && results.warnings == 0 && waited.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    std::printf("record fps_without=%.1f fps_with=%.1f\n", without, with);
    if (results.files.size() != 1 || results.files.first().isEmpty() || results.warnings != 0) {
        std::printf("  the recording did not complete\n");
        return 1;
    }
    const QList<QString> &files = results.files.first();
    cv::VideoCapture video(files.first().toStdString());
    std::printf("  with/without=%.2f (target 0.80); video %s: %.0f frames at %.0f fps\n", with / without,
                qPrintable(QFileInfo(files.first()).fileName()), video.get(cv::CAP_PROP_FRAME_COUNT),
                video.get(cv::CAP_PROP_FPS));
    return 0;
}

// A long recording of a slightly noisy eight-megapixel desk through the
// preview widget: how long stopping blocks the window, what each picture
// costs to encode, and whether the video plays for as long as it was recorded.
int benchRecordLarge()
{
    constexpr int kRecordMs = 20000;
    constexpr int kStopTargetMs = 200;
    constexpr double kPlayedTolerance = 0.05;
    const cv::Size size(3264, 2448);
    QTemporaryDir scratch;
    const QString still = scratch.filePath(QStringLiteral("desk.png"));
    cv::imwrite(still.toStdString(), drawDeskScene(size, demoSheets(size)));
    const QString work = scratch.filePath(QStringLiteral("work"));
    useStandInCamera(still, QSize(size.width, size.height), work);

    QCameraView view;
    Results results;
    if (!showAndOpen(view, results))
        return 1;
    view.recordBegin();
    auto *recorder = view.findChild<VideoRecorder *>();
    if (!recorder) {
        std::printf("record: the recording did not start\n");
        return 1;
    }
    spin(kRecordMs);
    QElapsedTimer stopping;
    stopping.start();
    view.recordEnd();
    const double stopMs = elapsedMs(stopping);
    // The recorder lives until its done signal is handled, which needs the event loop.
    recorder->waitDone(30000);
    const std::vector<double> encodeMs = recorder->encodeTimesMs();
    const std::vector<double> encodeCpuMs = recorder->encodeCpuTimesMs();
    const int skipped = recorder->skippedPictures();
    QElapsedTimer waited;
    waited.start();
    while (results.files.isEmpty() && results.warnings == 0 && waited.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    // Frames as the files' indexes count them: repeated pictures are empty chunks, which a reader skips.
    int frames = 0;
    for (const QList<QString> &paths : std::as_const(results.files)) {
        for (const QString &path : paths)
            frames += static_cast<int>(cv::VideoCapture(path.toStdString()).get(cv::CAP_PROP_FRAME_COUNT));
    }
    const double playedMs = frames * 1000.0 / VideoRecorder::kFramesPerSecond;
    std::printf("record %dx%d seconds=%d stop_ms=%.0f encode_ms=%.1f played_ms=%.0f\n", size.width, size.height,
                kRecordMs / 1000, stopMs, medianMs(encodeMs), playedMs);
    std::printf("  targets: stop_ms <= %d, played_ms within %.0f%% of %d; %zu pictures encoded (median %.1f ms of "
                "processor time each), %d passed over while the encoder was busy\n",
                kStopTargetMs, kPlayedTolerance * 100, kRecordMs, encodeMs.size(), medianMs(encodeCpuMs), skipped);
    if (results.warnings != 0 || results.files.isEmpty()) {
        std::printf("  the recording did not complete\n");
        return 1;
    }
    return std::abs(playedMs - kRecordMs) <= kPlayedTolerance * kRecordMs ? 0 : 1;
}

// Ten seconds of an eight-megapixel Motion-JPEG camera recorded onto a disk
// that takes 4 MB a second (each write waits as long as the disk would need):
// how long stopping takes, and how many pictures reached the file.
int benchRecordSlowDisk()
{
    constexpr int kRecordMs = 10000;
    constexpr double kBytesPerSecond = 4e6;
    constexpr int kStopTargetMs = 1000;
    const cv::Size size(3264, 2448);
    std::vector<uchar> jpeg;
    cv::imencode(".jpg", drawDeskScene(size, demoSheets(size)), jpeg, {cv::IMWRITE_JPEG_QUALITY, 85});
    QTemporaryDir scratch;
    VideoRecorder recorder(scratch.path(), QDateTime::currentDateTime());
    recorder.setWriteObserver([](qint64 bytes) {
        QThread::usleep(static_cast<unsigned long>(static_cast<double>(bytes) * 1e6 / kBytesPerSecond));
    });
    if (!recorder.start(size)) {
        std::printf("record slow-disk: %s\n", qPrintable(recorder.errorString()));
        return 1;
    }
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kRecordMs) {
        // Each frame in a buffer of its own, as the camera gives them.
        CapturedFrame frame;
        frame.data = cv::Mat(1, static_cast<int>(jpeg.size()), CV_8UC1, jpeg.data()).clone();
        frame.jpeg = true;
        frame.size = size;
        recorder.addFrame(frame);
        QThread::msleep(QCameraView::kWriterIntervalMs);
    }
    QElapsedTimer stopping;
    stopping.start();
    const QStringList files = recorder.finish();
    const double stopMs = elapsedMs(stopping);
    const double frames = files.isEmpty() ? 0 : cv::VideoCapture(files.first().toStdString()).get(cv::CAP_PROP_FRAME_COUNT);
    std::printf("record slow-disk %dx%d MBps=%.0f seconds=%d stop_ms=%.0f\n", size.width, size.height,
                kBytesPerSecond / 1e6, kRecordMs / 1000, stopMs);
    std::printf("  %.0f frames (%d pictures of %zu bytes, the rest repeats); failure: %s; target stop_ms <= %d\n",
                frames, recorder.writtenPictures(), jpeg.size(),
                recorder.failure().isEmpty() ? "none" : qPrintable(recorder.failure()), kStopTargetMs);
    return stopMs <= kStopTargetMs && recorder.failure().isEmpty() ? 0 : 1;
}

int benchRecord()
{
    return benchRecordRate() + benchRecordLarge() + benchRecordSlowDisk();
}

} // namespace

VORLANT_BENCH_GROUP("paint", benchPaint);
VORLANT_BENCH_GROUP("record", benchRecord);
