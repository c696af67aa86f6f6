#include "ocr/textrecognition.h"

#include <opencv2/imgproc.hpp>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

// Long sides of the sheets a page picture may show whole, in inches: A4 and Letter.
constexpr double kA4LongInches = 297.0 / 25.4;
constexpr double kLetterLongInches = 11.0;
constexpr double kA4Proportion = 297.0 / 210.0;
constexpr double kLetterProportion = 11.0 / 8.5;
constexpr double kProportionTolerance = 0.04;
// Body text is set at about 12 points; its lines of ink are about this much of an inch tall.
constexpr double kLineInkInches = 11.0 / 72.0;
// A row is part of a text line when this share of its pixels is ink.
constexpr double kInkRowShare = 0.01;
constexpr double kEdgeShare = 0.05;
constexpr int kLeastResolution = 70;
constexpr int kMostResolution = 600;
constexpr int kUnknownResolution = 300;
// Lines of print this tall (in pixels) are read best; much taller ones are scaled down to it.
constexpr int kBestLineHeight = 34;
constexpr double kLargestLineExcess = 1.25;
// The paper's brightness is found at this scale, over windows this wide
// (wider than a character there, narrower than a shadow's edge).
constexpr double kPaperScale = 0.25;
constexpr int kPaperWindow = 15;

int clampedResolution(double dpi)
{
    return std::clamp(static_cast<int>(std::lround(dpi)), kLeastResolution, kMostResolution);
}

// The median height of the runs of rows that carry ink, or 0 without any.
int medianLineHeight(const cv::Mat &picture)
{
    // The edges of a cut-out may show the desk, dark in every row.
    const int marginX = static_cast<int>(picture.cols * kEdgeShare), marginY = static_cast<int>(picture.rows * kEdgeShare);
    const cv::Mat grey = picture(cv::Rect(marginX, marginY, picture.cols - 2 * marginX, picture.rows - 2 * marginY));
    cv::Mat ink;
    cv::threshold(grey, ink, 0, 1, cv::THRESH_BINARY_INV | cv::THRESH_OTSU);
    cv::Mat rows;
    cv::reduce(ink, rows, 1, cv::REDUCE_SUM, CV_32S);
    const int least = std::max(1, static_cast<int>(grey.cols * kInkRowShare));
    std::vector<int> heights;
    int run = 0;
    for (int y = 0; y <= rows.rows; ++y) {
        if (y < rows.rows && rows.at<int>(y) >= least) {
            ++run;
        } else if (run > 0) {
            if (run > 2)
                heights.push_back(run);
            run = 0;
        }
    }
    if (heights.empty())
        return 0;
    std::nth_element(heights.begin(), heights.begin() + heights.size() / 2, heights.end());
    return heights[heights.size() / 2];
}

// The paper made evenly white: each pixel divided by the paper's brightness
// around it (the ink closed over at a quarter of the size). Tesseract
// thresholds the page as a whole, and under a shadow or light falling off
// across the page it takes the darker paper for ink and drops those words.
cv::Mat evenlyLit(const cv::Mat &grey)
{
    cv::Mat small, paper;
    cv::resize(grey, small, cv::Size(), kPaperScale, kPaperScale, cv::INTER_AREA);
    cv::dilate(small, paper, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(kPaperWindow, kPaperWindow)));
    cv::blur(paper, paper, cv::Size(kPaperWindow, kPaperWindow));
    cv::resize(paper, paper, grey.size(), 0, 0, cv::INTER_LINEAR);
    cv::Mat even;
    cv::divide(grey, cv::max(paper, 1), even, 255.0);
    return even;
}

} // namespace

int estimatedResolution(const cv::Mat &grey)
{
    if (grey.empty())
        return kUnknownResolution;
    const double longSide = std::max(grey.cols, grey.rows);
    const double proportion = longSide / std::min(grey.cols, grey.rows);
    if (std::abs(proportion - kA4Proportion) < kProportionTolerance * kA4Proportion)
        return clampedResolution(longSide / kA4LongInches);
    if (std::abs(proportion - kLetterProportion) < kProportionTolerance * kLetterProportion)
        return clampedResolution(longSide / kLetterLongInches);
    const int line = medianLineHeight(grey);
    return line > 0 ? clampedResolution(line / kLineInkInches) : kUnknownResolution;
}

bool recogniseTextLines(const cv::Mat &picture, QList<OcrLine> *lines, QString *error)
{
    lines->clear();
    if (picture.empty() || picture.depth() != CV_8U || (picture.channels() != 1 && picture.channels() != 3)) {
        *error = QStringLiteral("unusable picture");
        return false;
    }
    cv::Mat grey;
    if (picture.channels() == 3)
        cv::cvtColor(picture, grey, cv::COLOR_BGR2GRAY);
    else
        grey = picture;
    grey = evenlyLit(grey);
    // Large print is read at the size the recogniser reads best, and told
    // the resolution it then has; the boxes are scaled back.
    const int resolution = estimatedResolution(grey);
    const int lineHeight = medianLineHeight(grey);
    const double scale = lineHeight > kBestLineHeight * kLargestLineExcess
                             ? static_cast<double>(kBestLineHeight) / lineHeight
                             : 1.0;
    if (scale < 1.0)
        cv::resize(grey, grey, cv::Size(), scale, scale, cv::INTER_AREA);

    tesseract::TessBaseAPI api;
    if (api.Init(nullptr, kOcrLanguage, tesseract::OEM_LSTM_ONLY) != 0) {
        *error = QStringLiteral("the %1 language data could not be loaded").arg(QLatin1String(kOcrLanguage));
        return false;
    }
    api.SetPageSegMode(tesseract::PSM_AUTO);
    api.SetImage(grey.data, grey.cols, grey.rows, 1, static_cast<int>(grey.step));
    // Left to guess, the recogniser takes a clean page for a much finer one
    // and breaks its lines into fragments.
    api.SetSourceResolution(std::max(kLeastResolution, static_cast<int>(std::lround(resolution * scale))));
    if (api.Recognize(nullptr) != 0) {
        *error = QStringLiteral("recognition failed");
        return false;
    }
    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    if (!it)
        return true; // nothing on the page
    const tesseract::PageIteratorLevel level = tesseract::RIL_TEXTLINE;
    do {
        std::unique_ptr<char[]> text(it->GetUTF8Text(level));
        int left = 0, top = 0, right = 0, bottom = 0;
        if (!text || !it->BoundingBox(level, &left, &top, &right, &bottom))
            continue;
        const QString tidy = tidyRecognisedSpacing(QString::fromUtf8(text.get()));
        const QRect box(QPoint(static_cast<int>(left / scale), static_cast<int>(top / scale)),
                        QPoint(static_cast<int>(right / scale) - 1, static_cast<int>(bottom / scale) - 1));
        if (!tidy.isEmpty() && right > left && bottom > top)
            lines->append({box, tidy});
    } while (it->Next(level));
    return true;
}
