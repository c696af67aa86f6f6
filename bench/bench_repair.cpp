// Repairing what a crash left: how long the start-up repair of a recording
// part takes, the whole part copied into an indexed file and synced.

#include "bench.h"

#include "recording/mjpegaviwriter.h"
#include "recording/partrepair.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <atomic>
#include <cstdio>

namespace {

// About a gigabyte: 150 frames of an eight-megapixel picture of noise, which
// the recorder's JPEG quality cannot shrink much.
constexpr int kFrames = 150;
const cv::Size kFrameSize(3264, 2448);
constexpr int kJpegQuality = 90;

int benchRepair()
{
    QTemporaryDir dir;
    const QString part = dir.filePath(QStringLiteral("2026_01_01_12_00_00.000.part.avi"));
    cv::Mat noise(kFrameSize, CV_8UC3);
    cv::randu(noise, 0, 255);
    std::vector<uchar> jpeg;
    cv::imencode(".jpg", noise, jpeg, {cv::IMWRITE_JPEG_QUALITY, kJpegQuality});
    {
        // Dropped without finishing, as a crash leaves it: no closing index.
        MjpegAviWriter writer;
        bool written = writer.open(part, kFrameSize, 10.0);
        for (int n = 0; written && n < kFrames; ++n)
            written = writer.writeFrame(jpeg);
        if (!written) {
            std::printf("repair: the part could not be written: %s\n", qPrintable(writer.errorString()));
            return 1;
        }
    }
    const double megabytes = static_cast<double>(QFileInfo(part).size()) / 1e6;
    QElapsedTimer clock;
    clock.start();
    const std::atomic<bool> cancel{false};
    const PartRepair repair = repairRecordingPart(part, cancel);
    const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    std::printf("repair part_mb=%.0f frames=%d ms=%.0f mb_per_s=%.0f\n", megabytes, kFrames, ms, megabytes / ms * 1e3);
    if (repair.path.isEmpty() || QFileInfo::exists(part)) {
        std::printf("  the part was not repaired: %s\n", qPrintable(repair.error));
        return 1;
    }
    return 0;
}

} // namespace

VORLANT_BENCH_GROUP("repair", benchRepair);
