// vorlant-ocr <picture>: prints the text lines of one page picture, one per
// line as "x y width height<TAB>text". Started by the program once per page,
// with OMP_THREAD_LIMIT already set, so that the recogniser runs on one thread.
// Reads with the text models when they lie beside it (or in the folder
// VORLANT_OCR_MODELS names), else with tesseract.
#include "app/logging.h"
#include "ocr/modelreader.h"
#include "ocr/textrecognition.h"

#include <QFileInfo>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>

namespace {

QString workerFolder(const char *argv0)
{
    // /proc names the executable even when it was started through a link or PATH.
    const QFileInfo self(QStringLiteral("/proc/self/exe"));
    const QString path = self.exists() ? self.canonicalFilePath() : QString::fromLocal8Bit(argv0);
    return QFileInfo(path).absolutePath();
}

bool readWithModels(const QString &folder, const cv::Mat &picture, QList<OcrLine> *lines, QString *error)
{
    ModelTextReader reader;
    if (!reader.load(folder, error))
        return false;
    qCDebug(lcOcr).noquote() << "page read by the text models in" << folder;
    return reader.read(picture, lines, error);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: vorlant-ocr <picture>\n");
        return 2;
    }
    const int threads = qEnvironmentVariableIntValue("OMP_THREAD_LIMIT");
    if (threads > 0)
        cv::setNumThreads(threads);
    // As stored, like the page it goes on: the PDF shows the JPEG unturned.
    const cv::Mat picture = cv::imread(argv[1], cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION);
    if (picture.empty()) {
        std::fprintf(stderr, "cannot read the picture %s\n", argv[1]);
        return 1;
    }
    QList<OcrLine> lines;
    QString error;
    const QString models = findModelFolder(workerFolder(argv[0]));
    bool read = false;
    if (!models.isEmpty()) {
        read = readWithModels(models, picture, &lines, &error);
        if (!read)
            qCWarning(lcOcr).noquote() << error << "- reading with tesseract instead";
    }
    if (!read) {
        cv::Mat grey;
        cv::cvtColor(picture, grey, cv::COLOR_BGR2GRAY);
        qCDebug(lcOcr).noquote() << "page read by tesseract at" << estimatedResolution(grey) << "dpi";
        if (!recogniseTextLines(grey, &lines, &error)) {
            std::fprintf(stderr, "%s\n", error.toUtf8().constData());
            return 1;
        }
    }
    const QByteArray out = formatOcrLines(lines);
    return std::fwrite(out.constData(), 1, out.size(), stdout) == static_cast<size_t>(out.size()) ? 0 : 1;
}
