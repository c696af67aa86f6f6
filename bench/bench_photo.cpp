#include "bench.h"

#include "scenes/deskscene.h"
#include "engine/detection.h"
#include "engine/frameconversion.h"
#include "engine/photo.h"
#include "engine/pipeline.h"
#include "engine/watermark.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <opencv2/imgproc.hpp>

#include <cstdio>

namespace {

constexpr int kRuns = 7;
// The factory settings (photographs at 3264 x 2448) with a time watermark.
ConfigValues benchSettings(const QString &directory)
{
    ConfigValues s = factorySettings();
    s.watermarkTime = true;
    s.userDocumentsLocation = directory;
    return s;
}

QImage painted(const QImage &picture, const ConfigValues &settings, bool fullOverlay, double *ms)
{
    QImage out = picture;
    QElapsedTimer timer;
    timer.start();
    QPainter painter(&out);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QString text = watermarkText(settings, QDateTime(QDate(2024, 5, 17), QTime(9, 41, 7)));
    if (fullOverlay)
        paintWatermarkFullOverlay(painter, text, settings);
    else
        paintWatermark(painter, text, settings);
    painter.end();
    *ms = timer.nsecsElapsed() / 1e6;
    return out;
}

// The box-limited watermark must give the full overlay's pixels.
bool checkWatermark(const cv::Mat &frame, const ConfigValues &base)
{
    const QImage colour = wholePicture(frame, QSize(3264, 2448), 0);
    cv::Mat grey;
    cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    const QImage greyPicture = paintableCopy(wholePicture(grey, QSize(1920, 1080), 1));
    const int positions[][2] = {{50, 50}, {0, 0}, {100, 100}, {-20, 130}};
    bool allSame = true;
    for (const QImage &picture : {colour, greyPicture}) {
        bool same = true;
        std::vector<double> fullMs, boxMs;
        for (const auto &position : positions) {
            ConfigValues s = base;
            s.watermarkX = position[0];
            s.watermarkY = position[1];
            s.watermarkUnderline = position[0] == 0;
            double full = 0, box = 0;
            same = same && painted(picture, s, true, &full) == painted(picture, s, false, &box);
            fullMs.push_back(full);
            boxMs.push_back(box);
        }
        std::printf("photo watermark %dx%d full-overlay ms=%.1f text-box ms=%.1f pixels=%s\n", picture.width(),
                    picture.height(), medianMs(fullMs), medianMs(boxMs), same ? "identical" : "DIFFERENT");
        allSame = allSame && same;
    }
    return allSame;
}

// Warping only the cut-out's region must give the whole-picture warp's pixels.
bool checkCutOuts(const cv::Mat &frame)
{
    bool same = true;
    std::vector<double> fullMs, regionMs;
    cv::Mat grey;
    cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    for (const cv::Mat &picture : {frame, grey}) {
        for (const cv::RotatedRect &rect : documentsForMode(detectDocuments(frame), kCorrectMultiple)) {
            QElapsedTimer timer;
            timer.start();
            const cv::Mat full = extractDocumentByFullWarp(picture, rect);
            fullMs.push_back(timer.nsecsElapsed() / 1e6);
            timer.restart();
            const cv::Mat region = extractDocument(picture, rect);
            regionMs.push_back(timer.nsecsElapsed() / 1e6);
            same = same && full.size() == region.size() && cv::norm(full, region, cv::NORM_INF) == 0;
        }
    }
    std::printf("photo cut-out full-warp ms=%.1f region-warp ms=%.1f pixels=%s\n", medianMs(fullMs),
                medianMs(regionMs), same ? "identical" : "DIFFERENT");
    return same && !fullMs.empty();
}

int benchPhoto()
{
    int failures = 0;
    for (const cv::Size size : {cv::Size(3264, 2448), cv::Size(1920, 1080)}) {
        const cv::Mat frame = drawDeskScene(size, demoSheets(size));
        QTemporaryDir dir;
        const ConfigValues settings = benchSettings(dir.path());
        int number = 1;
        const NumberSource numbers = [&number] { return number++; };
        for (int type = 0; type <= 3; ++type) {
            for (int mode = 0; mode <= 2; ++mode) {
                PhotoOptions options;
                options.shootingType = type;
                options.correctionMode = mode;
                std::vector<double> samples;
                for (int run = 0; run < kRuns; ++run) {
                    QElapsedTimer timer;
                    timer.start();
                    const PhotoResult result =
                        capturePhotos(frame, options, {}, settings, standardOutputSizes(), numbers);
                    samples.push_back(timer.nsecsElapsed() / 1e6);
                    const int expected = mode == kCorrectMultiple ? 3 : 1;
                    if (result.written.size() != expected || !result.errors.isEmpty()) {
                        std::printf("photo %d %d: wrote %d files, errors: %s\n", type, mode,
                                    static_cast<int>(result.written.size()),
                                    qPrintable(result.errors.join(QLatin1Char(' '))));
                        ++failures;
                    }
                }
                std::printf("photo %d %d %dx%d ms=%.1f\n", type, mode, size.width, size.height, medianMs(samples));
                std::fflush(stdout);
            }
        }
        if (!checkWatermark(frame, settings))
            ++failures;
        if (!checkCutOuts(frame))
            ++failures;
    }
    std::printf("photo: medians of %d runs each\n", kRuns);
    return failures;
}

} // namespace

VORLANT_BENCH_GROUP("photo", benchPhoto);
