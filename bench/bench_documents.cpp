#include "bench.h"

#include "scenes/deskscene.h"
#include "engine/photonaming.h"
#include "documents/documentwriter.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <opencv2/imgcodecs.hpp>

#include <cstdio>

namespace {

constexpr int kRuns = 7;
constexpr int kPages = 10;
const cv::Size kPhotoSize(3264, 2448);
// The PDF may add its own structure, never re-encode: sources x 1.01 + 64 KiB.
constexpr double kPdfOverheadFactor = 1.01;
constexpr qint64 kPdfOverheadBytes = 64 * 1024;

// Desk photographs as the camera writes them, each a little different.
QStringList writePhotographs(const QTemporaryDir &dir, int count, qint64 *bytes)
{
    QStringList paths;
    *bytes = 0;
    for (int i = 0; i < count; ++i) {
        const QString path = dir.filePath(QStringLiteral("src_%1.jpg").arg(i));
        cv::imwrite(QFile::encodeName(path).toStdString(), drawDeskScene(kPhotoSize, demoSheets(kPhotoSize), 1 + i),
                    {cv::IMWRITE_JPEG_QUALITY, 80});
        paths << path;
        *bytes += QFileInfo(path).size();
    }
    return paths;
}

int benchPdf()
{
    QTemporaryDir dir;
    qint64 sourceBytes = 0;
    const QStringList sources = writePhotographs(dir, kPages, &sourceBytes);
    std::vector<double> samples;
    qint64 bytes = 0;
    for (int run = 0; run < kRuns; ++run) {
        const QString out = dir.filePath(QStringLiteral("out_%1.pdf").arg(run));
        QElapsedTimer timer;
        timer.start();
        const DocumentOutcome outcome = writePdfFile(sources, out);
        samples.push_back(timer.nsecsElapsed() / 1e6);
        if (!outcome.error.isEmpty() || outcome.pages != kPages) {
            std::printf("pdf: %s\n", qPrintable(outcome.error));
            return 1;
        }
        bytes = QFileInfo(out).size();
    }
    std::printf("pdf pages=%d %dx%d ms=%.1f bytes=%lld sources=%lld\n", kPages, kPhotoSize.width, kPhotoSize.height,
                medianMs(samples), static_cast<long long>(bytes), static_cast<long long>(sourceBytes));
    return bytes <= sourceBytes * kPdfOverheadFactor + kPdfOverheadBytes ? 0 : 1;
}

int benchMerge()
{
    QTemporaryDir dir;
    qint64 sourceBytes = 0;
    const QStringList sources = writePhotographs(dir, 2, &sourceBytes);
    std::vector<double> samples;
    for (int run = 0; run < kRuns; ++run) {
        const QString out = dir.filePath(QStringLiteral("merged_%1.jpg").arg(run));
        QElapsedTimer timer;
        timer.start();
        const auto [first, second] = loadPhotographPair(sources[0], sources[1]);
        const QImage merged = mergeImages(first.picture, second.picture, true);
        const SaveOutcome outcome = saveImageAsNewFile(merged, dir.path(), QStringLiteral("jpg"), 80,
                                                       [&](int attempt) { return attempt == 1 ? out : QString(); });
        samples.push_back(timer.nsecsElapsed() / 1e6);
        if (!outcome.error.isEmpty() || QImage(out).size() != QSize(2 * kPhotoSize.width, kPhotoSize.height)) {
            std::printf("merge: %s\n", qPrintable(outcome.error));
            return 1;
        }
    }
    std::printf("merge %dx%d ms=%.1f\n", kPhotoSize.width, kPhotoSize.height, medianMs(samples));
    return 0;
}

} // namespace

VORLANT_BENCH_GROUP("pdf", benchPdf);
VORLANT_BENCH_GROUP("merge", benchMerge);
