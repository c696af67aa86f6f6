// vorlant-ocr <picture>: prints the text lines of one page picture, one per
// line as "x y width height<TAB>text". Started by the program once per page,
// with OMP_THREAD_LIMIT already set, so that the recogniser runs on one thread.
#include "ocr/textrecognition.h"

#include <opencv2/imgcodecs.hpp>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: vorlant-ocr <picture>\n");
        return 2;
    }
    // As stored, like the page it goes on: the PDF shows the JPEG unturned.
    const cv::Mat picture = cv::imread(argv[1], cv::IMREAD_GRAYSCALE | cv::IMREAD_IGNORE_ORIENTATION);
    if (picture.empty()) {
        std::fprintf(stderr, "cannot read the picture %s\n", argv[1]);
        return 1;
    }
    QList<OcrLine> lines;
    QString error;
    if (!recogniseTextLines(picture, &lines, &error)) {
        std::fprintf(stderr, "%s\n", error.toUtf8().constData());
        return 1;
    }
    const QByteArray out = formatOcrLines(lines);
    return std::fwrite(out.constData(), 1, out.size(), stdout) == static_cast<size_t>(out.size()) ? 0 : 1;
}
