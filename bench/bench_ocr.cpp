#include "bench.h"
#include "textcompare.h"

#include "scenes/printedsheet.h"
#include "engine/detection.h"
#include "engine/ocrqueue.h"
#include "engine/photo.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <vector>

namespace {

constexpr int kRuns = 3;
constexpr float kSheetAngle = 3.0f;

// Reads one picture kRuns times through the worker and prints the median and the error rate.
bool benchPage(const QString &path, cv::Size size, const QString &reference)
{
    OcrQueue queue;
    std::vector<double> samples;
    QString text;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer timer;
        timer.start();
        queue.start({path});
        queue.waitForFinished();
        samples.push_back(timer.nsecsElapsed() / 1e6);
        if (!queue.page(0).ok) {
            std::printf("ocr page=%dx%d failed: %s\n", size.width, size.height, qPrintable(queue.page(0).error));
            return false;
        }
        text.clear();
        for (const OcrLine &line : queue.page(0).lines)
            text += line.text;
    }
    const double cer = characterErrorPercent(reference, text);
    std::printf("ocr page=%dx%d ms=%.0f cer=%.2f\n", size.width, size.height, medianMs(samples), cer);
    return true;
}

int benchOcr()
{
    if (!qEnvironmentVariableIsSet("VORLANT_OCR_WORKER"))
        qputenv("VORLANT_OCR_WORKER", VORLANT_OCR_WORKER_PATH);
    const QStringList lines = sampleTextLines();
    const cv::Mat photo = drawPrintedSheet(cv::Size(3264, 2448), lines, kSheetAngle);
    const cv::Mat cut = extractDocument(photo, detectDocuments(photo).best);
    QTemporaryDir dir;
    const QString photoPath = dir.filePath(QStringLiteral("desk.jpg"));
    const QString cutPath = dir.filePath(QStringLiteral("page.jpg"));
    if (cut.empty() || !cv::imwrite(photoPath.toStdString(), photo) || !cv::imwrite(cutPath.toStdString(), cut)) {
        std::printf("ocr: the test page could not be drawn\n");
        return 1;
    }
    const QString reference = lines.join(QString());
    const bool ok = benchPage(photoPath, photo.size(), reference) && benchPage(cutPath, cut.size(), reference);
    std::printf("ocr: medians of %d runs, one worker at a time\n", kRuns);
    return ok ? 0 : 1;
}

} // namespace

VORLANT_BENCH_GROUP("ocr", benchOcr);
