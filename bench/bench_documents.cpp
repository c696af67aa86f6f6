#include "bench.h"

#include "scenes/deskscene.h"
#include "scenes/hugepng.h"
#include "engine/photonaming.h"
#include "documents/documentwriter.h"

#include <QElapsedTimer>
#include <QFile>
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

// Linux keeps a process's peak resident memory in VmHWM and lets it be reset,
// so each case reports its own peak above what was in use before it.
qint64 statusKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).simplified().split(' ').value(0).toLongLong();
    return -1;
}

qint64 resetPeakKb()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
    return statusKb("VmRSS:");
}

struct LargeCase {
    const char *name;
    cv::Size size;
    const char *suffix;
    std::vector<int> parameters;
    bool noise;
    int pages;
};

// Documents past 2 GiB and lossless pages: time and peak memory stay those of a page or two.
int benchLargePdf()
{
    const LargeCase cases[] = {
        {"desk-8mp-jpeg", kPhotoSize, "jpg", {cv::IMWRITE_JPEG_QUALITY, 80}, false, 300},
        {"noise-8mp-jpeg-q95", kPhotoSize, "jpg", {cv::IMWRITE_JPEG_QUALITY, 95}, true, 230},
        {"desk-16mp-png", cv::Size(4608, 3456), "png", {}, false, 20},
    };
    QTemporaryDir dir;
    int failures = 0;
    for (const LargeCase &c : cases) {
        const QString source = dir.filePath(QStringLiteral("source.%1").arg(QLatin1String(c.suffix)));
        cv::Mat picture(c.size, CV_8UC3);
        if (c.noise)
            cv::randu(picture, 0, 255);
        else
            picture = drawDeskScene(c.size, demoSheets(c.size), 1);
        cv::imwrite(QFile::encodeName(source).toStdString(), picture, c.parameters);
        picture.release();
        QStringList sources;
        for (int i = 0; i < c.pages; ++i)
            sources << source;
        const QString out = dir.filePath(QStringLiteral("large.pdf"));
        const qint64 before = resetPeakKb();
        QElapsedTimer timer;
        timer.start();
        const DocumentOutcome outcome = writePdfFile(sources, out);
        const double ms = timer.nsecsElapsed() / 1e6;
        const qint64 peak = statusKb("VmHWM:");
        std::printf("pdf-large %s pages=%d source_bytes=%lld pdf_bytes=%lld ms=%.0f peak_rss_mb=%.0f "
                    "growth_mb=%.0f%s\n",
                    c.name, outcome.pages, static_cast<long long>(QFileInfo(source).size()),
                    static_cast<long long>(QFileInfo(out).size()), ms, peak / 1024.0, (peak - before) / 1024.0,
                    outcome.error.isEmpty() ? "" : qPrintable(" error=" + outcome.error));
        std::fflush(stdout);
        failures += outcome.error.isEmpty() && outcome.pages == c.pages ? 0 : 1;
        QFile::remove(out);
    }

    const QString huge = dir.filePath(QStringLiteral("huge.png"));
    writeHugePng(huge, QSize(30000, 30000));
    const qint64 before = resetPeakKb();
    QElapsedTimer timer;
    timer.start();
    const DecodedPhotograph decoded = loadPhotograph(huge);
    const double ms = timer.nsecsElapsed() / 1e6;
    const qint64 peak = statusKb("VmHWM:");
    std::printf("pdf-large png-30000x30000-refused ms=%.1f growth_mb=%.0f reason=%s\n", ms, (peak - before) / 1024.0,
                qPrintable(decoded.problem));
    return failures + (decoded.picture.isNull() ? 0 : 1);
}

} // namespace

VORLANT_BENCH_GROUP("pdf", benchPdf);
VORLANT_BENCH_GROUP("pdf-large", benchLargePdf);
VORLANT_BENCH_GROUP("merge", benchMerge);
