// Result strip: how long the GUI thread is held by one photograph arriving in
// the thumbnails, decoded at thumbnail size, against decoding the whole file.
#include "bench.h"

#include "app/cache.h"
#include "app/discovery.h"
#include "scenes/deskscene.h"
#include "engine/frameconversion.h"
#include "mainwindow/mainwindowqcamera.h"

#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int kRuns = 15;
const QSize kPhotoSize(3264, 2448);

double elapsedMs(const QElapsedTimer &clock)
{
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

int benchStrip()
{
    QTemporaryDir dir;
    const QString photo = dir.filePath(QStringLiteral("IMG_1.jpg"));
    const cv::Size size(kPhotoSize.width(), kPhotoSize.height());
    if (!matToQImage(drawDeskScene(size, demoSheets(size))).save(photo, "JPEG", 80)) {
        std::printf("strip: cannot write the photograph\n");
        return 1;
    }
    // A small still picture is the window's camera, so that its capture thread takes little of the machine.
    const QString camera = dir.filePath(QStringLiteral("camera.png"));
    QImage(320, 240, QImage::Format_RGB32).save(camera);
    *Cache::cameras = discoverCameraFiles(camera);
    Cache::config->update([&dir](ConfigValues &v) {
        v.cameraIndex = 0;
        v.userDocumentsLocation = dir.path();
        v.savePlaysound = false;
    });

    std::vector<double> whole;
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer clock;
        clock.start();
        const QPixmap shown = QPixmap(photo).scaled(200, 200, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        whole.push_back(elapsedMs(clock));
        if (shown.size() != QSize(200, 200))
            return 1;
    }

    MainWindowQCamera window;
    std::vector<double> strip;
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer clock;
        clock.start();
        window.takePhotoImage({photo}, 0);
        strip.push_back(elapsedMs(clock));
    }
    const QPixmap shown = window.findChild<QLabel *>(QStringLiteral("pic21"))->pixmap(Qt::ReturnByValue);
    std::printf("strip 3264x2448 jpeg: thumbnail_ms=%.1f whole_decode_ms=%.1f\n", medianMs(strip), medianMs(whole));
    return shown.size() == QSize(200, 200) ? 0 : 1;
}

} // namespace

VORLANT_BENCH_GROUP("strip", benchStrip);
