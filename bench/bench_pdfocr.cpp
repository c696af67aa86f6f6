#include "bench.h"

#include "scenes/printedsheet.h"
#include "engine/detection.h"
#include "engine/ocrqueue.h"
#include "engine/photo.h"
#include "documents/documentwriter.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <opencv2/imgcodecs.hpp>

#include <cstdio>

namespace {

constexpr int kPages = 4;
// What the text layer may add to a page beyond its photograph.
constexpr qint64 kTextLayerBytesPerPage = 16 * 1024;

int benchPdfOcr()
{
    if (!qEnvironmentVariableIsSet("VORLANT_OCR_WORKER"))
        qputenv("VORLANT_OCR_WORKER", VORLANT_OCR_WORKER_PATH);
    QTemporaryDir dir;
    QStringList sources;
    qint64 sourceBytes = 0;
    QStringList lines = sampleTextLines();
    for (int i = 0; i < kPages; ++i) {
        lines.append(lines.takeFirst()); // every page prints its own order
        const cv::Mat photo = drawPrintedSheet(cv::Size(3264, 2448), lines, 1.0f + i);
        const QString path = dir.filePath(QStringLiteral("IMG_%1.jpg").arg(i + 1));
        if (!cv::imwrite(path.toStdString(), extractDocument(photo, detectDocuments(photo).best))) {
            std::printf("pdf-ocr: the pages could not be drawn\n");
            return 1;
        }
        sources << path;
        sourceBytes += QFileInfo(path).size();
    }

    QElapsedTimer timer;
    timer.start();
    OcrQueue queue;
    queue.start(sources);
    queue.waitForFinished();
    QVector<QList<OcrLine>> layers;
    int read = 0;
    for (int i = 0; i < kPages; ++i) {
        layers.append(queue.page(i).lines);
        read += queue.page(i).ok;
    }
    const DocumentOutcome outcome = writePdfFile(sources, dir.filePath(QStringLiteral("book.pdf")), {}, layers);
    const double ms = timer.nsecsElapsed() / 1e6;
    const qint64 bytes = QFileInfo(outcome.path).size();
    std::printf("pdf-ocr pages=%d ms=%.0f bytes=%lld sources=%lld read=%d\n", kPages, ms,
                static_cast<long long>(bytes), static_cast<long long>(sourceBytes), read);
    const bool ok = outcome.error.isEmpty() && read == kPages &&
                    bytes <= sourceBytes + kTextLayerBytesPerPage * kPages;
    return ok ? 0 : 1;
}

} // namespace

VORLANT_BENCH_GROUP("pdf-ocr", benchPdfOcr);
