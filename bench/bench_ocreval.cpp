#include "bench.h"
#include "textcompare.h"

#include "engine/ocrqueue.h"
#include "ocr/modelreader.h"
#include "scenes/corpus.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <opencv2/imgcodecs.hpp>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// What the models reach on every page, and what tesseract alone may.
constexpr double kModelCerTarget = 1.5;
constexpr double kTesseractCerTarget = 6.0;
constexpr int kPhotoQuality = 92;

struct CaptureKind {
    const char *name;
    Capture capture;
};

// Processor time of the finished workers: on a shared machine the wall
// clock also counts the time other processes held the core.
double childrenCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto ms = [](const timeval &t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// Reads one page through the worker, as the program does; -1 when it failed.
double readPage(const QString &path, QString *text, double *cpuMs)
{
    OcrQueue queue;
    QElapsedTimer timer;
    const double cpuStart = childrenCpuMs();
    timer.start();
    queue.start({path});
    queue.waitForFinished();
    const double ms = timer.nsecsElapsed() / 1e6;
    *cpuMs = childrenCpuMs() - cpuStart;
    if (!queue.page(0).ok) {
        std::printf("ocr-eval %s failed: %s\n", qPrintable(QFileInfo(path).fileName()), qPrintable(queue.page(0).error));
        return -1.0;
    }
    text->clear();
    for (const OcrLine &line : queue.page(0).lines)
        *text += line.text;
    return ms;
}

int benchOcrEval()
{
    if (!qEnvironmentVariableIsSet("VORLANT_OCR_WORKER"))
        qputenv("VORLANT_OCR_WORKER", VORLANT_OCR_WORKER_PATH);
    const bool models = !findModelFolder(QFileInfo(OcrQueue::workerPath()).absolutePath()).isEmpty();
    const CaptureKind captures[] = {{"clean", Capture::Clean}, {"photo", Capture::Photo}, {"bw", Capture::Bw}};
    // VORLANT_BENCH_KEEP names a folder that keeps the drawn pages for a look.
    QTemporaryDir temporary;
    const QString keep = qEnvironmentVariable("VORLANT_BENCH_KEEP");
    const QDir dir(keep.isEmpty() ? temporary.path() : keep);
    QStringList paragraphs = corpusParagraphs();
    std::vector<double> times, cpuTimes;
    double worst = 0.0;
    bool ok = true;
    for (size_t f = 0; f < corpusFaces().size(); ++f) {
        const CorpusFace &face = corpusFaces()[f];
        const CorpusPage page = layOutPage(face, paragraphs);
        paragraphs.append(paragraphs.takeFirst()); // every face prints its own page
        for (size_t c = 0; c < std::size(captures); ++c) {
            const DeskKind &desk = deskKinds()[(f + c) % deskKinds().size()];
            const unsigned seed = static_cast<unsigned>(1 + f * std::size(captures) + c);
            const QString path = dir.filePath(QStringLiteral("%1-%2.jpg").arg(face.name, captures[c].name));
            if (!cv::imwrite(path.toStdString(), capturedPage(page.picture, captures[c].capture, desk.surface, seed),
                             {cv::IMWRITE_JPEG_QUALITY, kPhotoQuality})) {
                std::printf("ocr-eval: the page could not be written\n");
                return 1;
            }
            QString text;
            double cpuMs = 0.0;
            const double ms = readPage(path, &text, &cpuMs);
            if (ms < 0) {
                ok = false;
                continue;
            }
            const double cer = characterErrorPercent(page.lines.join(QString()), text);
            std::printf("ocr-eval face=%s capture=%s desk=%s cer=%.2f ms=%.0f cpu_ms=%.0f\n", face.name,
                        captures[c].name, desk.name, cer, ms, cpuMs);
            std::fflush(stdout);
            worst = std::max(worst, cer);
            times.push_back(ms);
            cpuTimes.push_back(cpuMs);
        }
    }
    const double target = models ? kModelCerTarget : kTesseractCerTarget;
    std::printf("ocr-eval all engine=%s cer_max=%.2f ms_median=%.0f cpu_ms_median=%.0f target_cer=%.1f\n",
                models ? "models" : "tesseract", worst, medianMs(times), medianMs(cpuTimes), target);
    return ok && worst <= target ? 0 : 1;
}

} // namespace

VORLANT_BENCH_GROUP("ocr-eval", benchOcrEval);
