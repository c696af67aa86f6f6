#include "ocr/modelreader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace {

// The detector sees the page with its long side at this many pixels, both
// sides a multiple of the network's stride.
constexpr int kDetectionLongSide = 960;
constexpr int kDetectionStride = 32;
// ImageNet's per-channel statistics, in the order the page's channels come (BGR).
const cv::Scalar kDetectionMean(0.485, 0.456, 0.406);
const cv::Scalar kDetectionStd(0.229, 0.224, 0.225);
constexpr float kTextProbability = 0.3f;
constexpr double kBoxScore = 0.6;
constexpr double kUnclipRatio = 2.0;
// Regions narrower than this (in map pixels) are specks, not lines.
constexpr double kSmallestSide = 3.0;
constexpr size_t kMostCandidates = 1000;

// The recogniser reads lines scaled to this height, at least this wide.
constexpr int kLineHeight = 48;
constexpr int kNarrowestLine = 320;
constexpr int kLineStride = 8;
// A crop this much taller than wide is a vertical line: read it turned.
constexpr double kVerticalRatio = 1.5;
constexpr double kLeastConfidence = 0.5;
// A gap in a Latin line's ink this wide (of the line's height) is a word space.
constexpr double kWordSpaceShare = 0.12;

bool hasModelFiles(const QDir &dir)
{
    for (const char *name : {kDetectionModelFile, kRecognitionModelFile, kRecognitionKeysFile})
        if (!QFileInfo(dir.filePath(QLatin1String(name))).isFile())
            return false;
    return true;
}

// Corners clockwise from the top left: of the two leftmost points the upper
// one starts, of the two rightmost the upper one is second.
std::array<cv::Point2f, 4> orderedCorners(const cv::RotatedRect &rect)
{
    cv::Point2f p[4];
    rect.points(p);
    std::sort(p, p + 4, [](const cv::Point2f &a, const cv::Point2f &b) { return a.x < b.x; });
    const auto [tl, bl] = p[0].y <= p[1].y ? std::pair(p[0], p[1]) : std::pair(p[1], p[0]);
    const auto [tr, br] = p[2].y <= p[3].y ? std::pair(p[2], p[3]) : std::pair(p[3], p[2]);
    return {tl, tr, br, bl};
}

double meanInside(const cv::Mat &probability, const std::array<cv::Point2f, 4> &corners)
{
    std::vector<cv::Point> polygon;
    for (const cv::Point2f &c : corners)
        polygon.emplace_back(cvRound(c.x), cvRound(c.y));
    const cv::Rect box = cv::boundingRect(polygon) & cv::Rect(0, 0, probability.cols, probability.rows);
    if (box.empty())
        return 0.0;
    cv::Mat mask = cv::Mat::zeros(box.size(), CV_8U);
    for (cv::Point &p : polygon)
        p -= box.tl();
    cv::fillPoly(mask, std::vector<std::vector<cv::Point>>{polygon}, cv::Scalar(1));
    return cv::mean(probability(box), mask)[0];
}

double distance(const cv::Point2f &a, const cv::Point2f &b)
{
    return std::hypot(a.x - b.x, a.y - b.y);
}

cv::Mat cropLine(const cv::Mat &picture, const std::array<cv::Point2f, 4> &c)
{
    const int width = std::max(1, cvRound(std::max(distance(c[0], c[1]), distance(c[3], c[2]))));
    const int height = std::max(1, cvRound(std::max(distance(c[0], c[3]), distance(c[1], c[2]))));
    const cv::Point2f target[4] = {{0, 0}, {static_cast<float>(width), 0},
                                   {static_cast<float>(width), static_cast<float>(height)},
                                   {0, static_cast<float>(height)}};
    const cv::Mat warp = cv::getPerspectiveTransform(c.data(), target);
    cv::Mat line;
    cv::warpPerspective(picture, line, warp, cv::Size(width, height), cv::INTER_CUBIC, cv::BORDER_REPLICATE);
    if (height >= kVerticalRatio * width)
        cv::rotate(line, line, cv::ROTATE_90_COUNTERCLOCKWISE);
    return line;
}

// Top to bottom by rows of lines, each row left to right: a line joins the
// row when its middle lies within half a row's height of the row's middle.
void readingOrder(std::vector<TextQuad> *quads)
{
    const auto middle = [](const TextQuad &q) { return (q.corners[0].y + q.corners[3].y) / 2.0; };
    const auto height = [](const TextQuad &q) { return std::max(1.0, distance(q.corners[0], q.corners[3])); };
    std::sort(quads->begin(), quads->end(), [&](const TextQuad &a, const TextQuad &b) { return middle(a) < middle(b); });
    for (size_t start = 0; start < quads->size();) {
        size_t end = start + 1;
        while (end < quads->size() &&
               middle((*quads)[end]) - middle((*quads)[start]) < height((*quads)[start]) / 2)
            ++end;
        std::sort(quads->begin() + start, quads->begin() + end,
                  [](const TextQuad &a, const TextQuad &b) { return a.corners[0].x < b.corners[0].x; });
        start = end;
    }
}

} // namespace

QString findModelFolder(const QString &workerDir)
{
    const QString named = qEnvironmentVariable("VORLANT_OCR_MODELS");
    const QDir dir = named.isEmpty() ? QDir(workerDir).filePath(QLatin1String(kModelFolderName)) : QDir(named);
    return hasModelFiles(dir) ? dir.absolutePath() : QString();
}

double unclipDistance(double width, double height)
{
    return width + height > 0 ? width * height * kUnclipRatio / (2.0 * (width + height)) : 0.0;
}

std::vector<TextQuad> quadsFromProbability(const cv::Mat &probability, cv::Point2d scale)
{
    std::vector<TextQuad> quads;
    if (probability.empty() || probability.type() != CV_32FC1)
        return quads;
    const cv::Mat mask = probability > kTextProbability;
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(mask, contours, cv::RETR_LIST, cv::CHAIN_APPROX_SIMPLE);
    for (size_t i = 0; i < contours.size() && i < kMostCandidates; ++i) {
        const cv::RotatedRect core = cv::minAreaRect(contours[i]);
        if (std::min(core.size.width, core.size.height) < kSmallestSide)
            continue;
        const double score = meanInside(probability, orderedCorners(core));
        if (score < kBoxScore)
            continue;
        const double d = unclipDistance(core.size.width, core.size.height);
        const cv::RotatedRect grown(core.center, cv::Size2f(core.size.width + 2 * d, core.size.height + 2 * d),
                                    core.angle);
        if (std::min(grown.size.width, grown.size.height) < kSmallestSide + 2)
            continue;
        TextQuad quad;
        quad.score = score;
        quad.corners = orderedCorners(grown);
        for (cv::Point2f &c : quad.corners) {
            c.x = static_cast<float>(std::clamp(c.x * scale.x, 0.0, probability.cols * scale.x - 1));
            c.y = static_cast<float>(std::clamp(c.y * scale.y, 0.0, probability.rows * scale.y - 1));
        }
        quads.push_back(quad);
    }
    return quads;
}

DecodedLine decodeGreedy(const cv::Mat &steps, const QStringList &keys)
{
    DecodedLine line;
    if (steps.empty() || steps.type() != CV_32FC1)
        return line;
    int previous = 0;
    double sum = 0.0;
    int kept = 0;
    for (int t = 0; t < steps.rows; ++t) {
        cv::Point best;
        double probability = 0.0;
        cv::minMaxLoc(steps.row(t), nullptr, &probability, nullptr, &best);
        const int index = best.x;
        if (index != 0 && index != previous) {
            line.characters += index <= keys.size() ? keys[index - 1] : QStringLiteral(" ");
            line.steps.push_back(t);
            sum += probability;
            ++kept;
        }
        previous = index;
    }
    line.text = line.characters.join(QString());
    line.confidence = kept ? sum / kept : 0.0;
    return line;
}

QString withWordSpaces(const DecodedLine &line, const cv::Mat &ink, int stepWidth)
{
    if (ink.empty() || ink.type() != CV_8UC1 || line.characters.size() != static_cast<int>(line.steps.size()))
        return line.text;
    cv::Mat dark;
    cv::threshold(ink, dark, 0, 1, cv::THRESH_BINARY_INV | cv::THRESH_OTSU);
    cv::Mat columns;
    cv::reduce(dark, columns, 0, cv::REDUCE_SUM, CV_32S);
    const int widest = static_cast<int>(ink.rows * kWordSpaceShare);
    const auto latin = [](const QString &c) { return c.size() == 1 && c[0].unicode() < 0x80 && c[0].isLetterOrNumber(); };
    const auto middle = [&](int i) { return line.steps[i] * stepWidth + stepWidth / 2; };

    QString out;
    int gapStart = -1;
    std::vector<std::pair<int, int>> gaps;
    for (int x = 0; x < columns.cols; ++x) {
        if (columns.at<int>(x) == 0) {
            if (gapStart < 0)
                gapStart = x;
        } else {
            if (gapStart > 0 && x - gapStart >= widest)
                gaps.emplace_back(gapStart, x);
            gapStart = -1;
        }
    }
    size_t gap = 0;
    for (int i = 0; i < line.characters.size(); ++i) {
        out += line.characters[i];
        if (i + 1 == line.characters.size() || !latin(line.characters[i]) || !latin(line.characters[i + 1]))
            continue;
        while (gap < gaps.size() && gaps[gap].second <= middle(i))
            ++gap;
        if (gap < gaps.size() && gaps[gap].first >= middle(i) && gaps[gap].second <= middle(i + 1))
            out += QLatin1Char(' ');
    }
    return out;
}

bool ModelTextReader::load(const QString &folder, QString *error)
{
    const QDir dir(folder);
    QFile keys(dir.filePath(QLatin1String(kRecognitionKeysFile)));
    if (!keys.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read %1").arg(keys.fileName());
        return false;
    }
    QTextStream in(&keys);
    in.setCodec("UTF-8");
    m_keys.clear();
    while (!in.atEnd())
        m_keys.append(in.readLine());
    try {
        m_detector = cv::dnn::readNetFromONNX(dir.filePath(QLatin1String(kDetectionModelFile)).toStdString());
        m_recogniser = cv::dnn::readNetFromONNX(dir.filePath(QLatin1String(kRecognitionModelFile)).toStdString());
    } catch (const cv::Exception &e) {
        *error = QStringLiteral("cannot load the text models in %1: %2").arg(folder, QString::fromStdString(e.msg));
        return false;
    }
    // Fused, the detector's transposed convolutions keep the first input
    // size's buffers and go wrong on a page of another size.
    m_detector.enableFusion(false);
    return !m_keys.isEmpty() && !m_detector.empty() && !m_recogniser.empty();
}

DecodedLine ModelTextReader::readLine(const cv::Mat &line)
{
    const int width = std::max(1, static_cast<int>(std::ceil(kLineHeight * line.cols / static_cast<double>(line.rows))));
    cv::Mat scaled;
    cv::resize(line, scaled, cv::Size(width, kLineHeight), 0, 0, cv::INTER_LINEAR);
    // Scaled to [-1, 1] and padded with zeros (mid-grey) to the width the
    // network reads best, in whole steps of its stride.
    const int padded = std::max(kNarrowestLine, (width + kLineStride - 1) / kLineStride * kLineStride);
    cv::Mat input(kLineHeight, padded, CV_32FC3, cv::Scalar::all(0));
    scaled.convertTo(input(cv::Rect(0, 0, width, kLineHeight)), CV_32F, 2.0 / 255.0, -1.0);
    m_recogniser.setInput(cv::dnn::blobFromImage(input));
    const cv::Mat out = m_recogniser.forward();
    // [1, steps, keys + 2]
    const cv::Mat steps(out.size[1], out.size[2], CV_32F, const_cast<float *>(out.ptr<float>()));
    DecodedLine read = decodeGreedy(steps, m_keys);
    cv::Mat grey;
    cv::cvtColor(scaled, grey, cv::COLOR_BGR2GRAY);
    read.text = withWordSpaces(read, grey, kLineStride);
    return read;
}

bool ModelTextReader::read(const cv::Mat &bgr, QList<OcrLine> *lines, QString *error)
{
    lines->clear();
    if (bgr.empty() || bgr.type() != CV_8UC3) {
        *error = QStringLiteral("unusable picture");
        return false;
    }
    const double fit = static_cast<double>(kDetectionLongSide) / std::max(bgr.cols, bgr.rows);
    const auto strideMultiple = [](double side) {
        return std::max(kDetectionStride, cvRound(side / kDetectionStride) * kDetectionStride);
    };
    const cv::Size size(strideMultiple(bgr.cols * fit), strideMultiple(bgr.rows * fit));
    cv::Mat scaled, normalised;
    cv::resize(bgr, scaled, size, 0, 0, cv::INTER_AREA);
    scaled.convertTo(normalised, CV_32FC3, 1.0 / 255.0);
    cv::subtract(normalised, kDetectionMean, normalised);
    cv::divide(normalised, kDetectionStd, normalised);

    cv::Mat map;
    try {
        m_detector.setInput(cv::dnn::blobFromImage(normalised));
        const cv::Mat out = m_detector.forward(); // [1, 1, height, width]
        map = cv::Mat(out.size[2], out.size[3], CV_32F, const_cast<float *>(out.ptr<float>())).clone();
    } catch (const cv::Exception &e) {
        *error = QStringLiteral("text detection failed: %1").arg(QString::fromStdString(e.msg));
        return false;
    }
    std::vector<TextQuad> quads = quadsFromProbability(
        map, cv::Point2d(static_cast<double>(bgr.cols) / size.width, static_cast<double>(bgr.rows) / size.height));
    readingOrder(&quads);

    const cv::Rect page(0, 0, bgr.cols, bgr.rows);
    for (const TextQuad &quad : quads) {
        DecodedLine line;
        try {
            line = readLine(cropLine(bgr, quad.corners));
        } catch (const cv::Exception &e) {
            *error = QStringLiteral("text recognition failed: %1").arg(QString::fromStdString(e.msg));
            return false;
        }
        const QString text = tidyRecognisedSpacing(line.text);
        if (line.confidence < kLeastConfidence || text.isEmpty())
            continue;
        const cv::Rect box =
            cv::boundingRect(std::vector<cv::Point2f>(quad.corners.begin(), quad.corners.end())) & page;
        if (!box.empty())
            lines->append({QRect(box.x, box.y, box.width, box.height), text});
    }
    return true;
}
