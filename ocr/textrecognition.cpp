#include "ocr/textrecognition.h"

#include <opencv2/imgproc.hpp>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>
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
// Each line is cut out with a share of its height as white margin all round
// and handed over at a height in pixels, in each of these ways; the
// recogniser shrinks it (smoothing as it does) to the height its network
// reads, and the reading it is surest of is kept: which way reads a face
// best differs from line to line, and a b/w capture's broken strokes come
// out differently in each. Much tighter or looser margins, or a line handed
// over at the network's own height, misread more characters. The first way
// reads most lines well enough and each other costs as much again, so the
// ways are tried in turn only until a reading is as sure as kSureReading
// (the recogniser's mean confidence, 0 to 100): about two lines in five are
// read more than once.
struct LineCut {
    double margin;
    int height;
};
constexpr LineCut kLineCuts[] = {{0.3, 96}, {0.3, 120}, {0.3, 144}, {0.2, 96}};
constexpr int kSureReading = 83;
// A line mostly in Latin script is read again with narrower margins, at
// which the recogniser keeps the spaces between words.
constexpr double kLatinLineMargin = 0.1;
// Columns stand this many line heights apart or more; the gaps between the
// words or characters of a line are narrower.
constexpr double kColumnGap = 1.2;
// A run of rows this much taller than a line holds lines that touch (or a
// picture): tesseract's own layout reads it.
constexpr double kTallLine = 1.8;
// A line shorter than this share of the others (a lone full stop, a row of
// dots) is read at their height, from its foot up, not blown up to fill it.
constexpr double kShortLine = 0.6;
// A lone mark is read after the line before it, an eighth of a line's height on.
constexpr int kMarkGapShare = 8;
// A short sliver this close to a line, the two no taller than this, is part of it.
constexpr double kJoinedLine = 1.3;
// Noise: specks no wider or taller than a twelfth of a line, within these
// bounds (a page's lines seem taller than they are until it is levelled).
constexpr int kSpeckShare = 12;
constexpr int kLeastSpeck = 2;
constexpr int kMostSpeck = 4;
// Paper made even is near white; a page without print has no darker ink than this.
constexpr int kDarkestPaper = 200;
constexpr int kMostCutDepth = 32;
// A scan may lie turned this far either way (degrees); it is levelled, so
// that its lines stand apart, when turned by more than the least turn.
constexpr double kMostSkew = 5.0;
constexpr double kLeastSkew = 0.3;
constexpr double kCoarseSkewStep = 0.25;
constexpr double kFineSkewStep = 0.05;
// The turn is judged on the ink scaled so that its lines are about this
// tall, neither enlarged nor shrunk below the least scale (the lines of a
// turned page run into each other and seem taller than they are), in this
// many upright strips.
constexpr int kSkewLineHeight = 12;
constexpr double kLeastSkewScale = 0.25;
constexpr int kSkewStrips = 4;
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
    const int marginX = static_cast<int>(picture.cols * kEdgeShare),
              marginY = static_cast<int>(picture.rows * kEdgeShare);
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

QString withSpacesOf(const QString &text, const QString &spaced)
{
    QString a, b;
    std::vector<bool> spaceAfter; // in `spaced`, after each of its characters
    for (const QChar c : text)
        if (!c.isSpace())
            a += c;
    for (const QChar c : spaced) {
        if (!c.isSpace()) {
            b += c;
            spaceAfter.push_back(false);
        } else if (!b.isEmpty()) {
            spaceAfter.back() = true;
        }
    }
    // Edit distances of the tails, a[i..] against b[j..].
    const int n = a.size(), m = b.size();
    std::vector<int> cost(static_cast<size_t>(n + 1) * (m + 1));
    const auto at = [&](int i, int j) -> int & { return cost[static_cast<size_t>(i) * (m + 1) + j]; };
    for (int i = n; i >= 0; --i)
        for (int j = m; j >= 0; --j)
            at(i, j) = i == n   ? m - j
                       : j == m ? n - i
                                : std::min({at(i + 1, j) + 1, at(i, j + 1) + 1, at(i + 1, j + 1) + (a[i] != b[j])});
    // A space goes between two characters of `text` where the same two stand
    // side by side in `spaced` with a space between them.
    QString out;
    int i = 0, j = 0;
    while (i < n) {
        const bool same = j < m && a[i] == b[j];
        if (j < m && at(i, j) == at(i + 1, j + 1) + (same ? 0 : 1)) {
            out += a[i];
            if (same && spaceAfter[j] && i + 1 < n && j + 1 < m && a[i + 1] == b[j + 1] &&
                at(i + 1, j + 1) == at(i + 2, j + 2))
                out += QLatin1Char(' ');
            ++i;
            ++j;
        } else if (at(i, j) == at(i + 1, j) + 1) {
            out += a[i++];
        } else {
            ++j;
        }
    }
    return tidyRecognisedSpacing(out);
}

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

namespace {

// The ink of an evenly lit page (255 where ink), without specks of noise and
// without whatever touches the picture's edges: print keeps a margin, and the
// desk showing along a cut-out's edges would run across every row or stand
// as lines of its own. The desk is whitened on the page too, so that it does
// not come back inside when the page is turned.
cv::Mat inkOf(cv::Mat &even, int lineHeight)
{
    cv::Mat ink;
    const double level = cv::threshold(even, ink, 0, 255, cv::THRESH_BINARY_INV | cv::THRESH_OTSU);
    if (level > kDarkestPaper)
        cv::threshold(even, ink, kDarkestPaper, 255, cv::THRESH_BINARY_INV);
    cv::Mat labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(ink, labels, stats, centroids, 8, CV_32S);
    const int speck = std::clamp(lineHeight / kSpeckShare, kLeastSpeck, kMostSpeck);
    enum Kind : uchar { Ink, Speck, Edge };
    std::vector<uchar> kind(count, Ink);
    kind[0] = Speck;
    for (int i = 1; i < count; ++i) {
        const int x = stats.at<int>(i, cv::CC_STAT_LEFT), y = stats.at<int>(i, cv::CC_STAT_TOP);
        const int w = stats.at<int>(i, cv::CC_STAT_WIDTH), h = stats.at<int>(i, cv::CC_STAT_HEIGHT);
        if (x == 0 || y == 0 || x + w == ink.cols || y + h == ink.rows)
            kind[i] = Edge;
        else if (w <= speck && h <= speck)
            kind[i] = Speck;
    }
    for (int y = 0; y < ink.rows; ++y) {
        const int *label = labels.ptr<int>(y);
        uchar *out = ink.ptr(y);
        uchar *page = even.ptr(y);
        for (int x = 0; x < ink.cols; ++x) {
            const uchar k = kind[label[x]];
            out[x] = k == Ink ? 255 : 0;
            if (k == Edge)
                page[x] = 255;
        }
    }
    return ink;
}

// The stretches of a profile that carry ink, as [start, end) pairs.
std::vector<std::pair<int, int>> inkRuns(const cv::Mat &profile)
{
    std::vector<std::pair<int, int>> runs;
    const int length = static_cast<int>(profile.total());
    int start = -1;
    for (int i = 0; i <= length; ++i) {
        const bool inked = i < length && profile.at<int>(i) > 0;
        if (inked && start < 0)
            start = i;
        else if (!inked && start >= 0) {
            runs.emplace_back(start, i);
            start = -1;
        }
    }
    return runs;
}

// Cuts `area` of the ink into text lines in reading order: at each step at
// the widest gap's direction, so that columns part before their lines do.
// Runs of rows too tall for one line go out as blocks for tesseract.
void cutIntoLines(const cv::Mat &ink, const cv::Rect &area, int lineHeight, int depth, std::vector<cv::Rect> *lines,
                  std::vector<cv::Rect> *blocks)
{
    cv::Mat rowProfile, columnProfile;
    cv::reduce(ink(area), rowProfile, 1, cv::REDUCE_SUM, CV_32S);
    cv::reduce(ink(area), columnProfile, 0, cv::REDUCE_SUM, CV_32S);
    const auto rows = inkRuns(rowProfile);
    const auto allColumns = inkRuns(columnProfile);
    if (rows.empty())
        return;
    const cv::Rect inked(area.x + allColumns.front().first, area.y + rows.front().first,
                         allColumns.back().second - allColumns.front().first, rows.back().second - rows.front().first);
    // Columns: runs of columns parted by gaps wider than a word space.
    std::vector<std::pair<int, int>> columns;
    int widestColumnGap = 0, widestRowGap = 0;
    for (const auto &run : allColumns) {
        const int gap = columns.empty() ? 0 : run.first - columns.back().second;
        if (!columns.empty() && gap < kColumnGap * lineHeight) {
            columns.back().second = run.second;
        } else {
            widestColumnGap = std::max(widestColumnGap, gap);
            columns.push_back(run);
        }
    }
    for (size_t i = 1; i < rows.size(); ++i)
        widestRowGap = std::max(widestRowGap, rows[i].first - rows[i - 1].second);

    if (depth < kMostCutDepth && columns.size() > 1 && widestColumnGap >= widestRowGap) {
        for (const auto &column : columns)
            cutIntoLines(ink, cv::Rect(area.x + column.first, inked.y, column.second - column.first, inked.height),
                         lineHeight, depth + 1, lines, blocks);
    } else if (depth < kMostCutDepth && rows.size() > 1) {
        for (const auto &row : rows)
            cutIntoLines(ink, cv::Rect(inked.x, area.y + row.first, inked.width, row.second - row.first), lineHeight,
                         depth + 1, lines, blocks);
    } else if (inked.height > kTallLine * lineHeight) {
        blocks->push_back(inked);
        lines->push_back(cv::Rect()); // its place in the reading order
    } else {
        lines->push_back(inked);
    }
}

// How sharply the ink falls into rows when turned by `degrees`: the sum of
// the squared row counts, greatest when the lines are level. Counted in
// upright strips of the page apart, so that turning the lines of one column
// into line with those of the next is no gain.
double rowSharpness(const std::vector<cv::Point> &points, double degrees, cv::Size size)
{
    const double radians = degrees * CV_PI / 180.0;
    const double c = std::cos(radians), s = std::sin(radians);
    const int reach = size.width + size.height; // beyond any turned row
    const int stripWidth = std::max(1, size.width / kSkewStrips);
    std::vector<int> counts(static_cast<size_t>(kSkewStrips + 1) * (2 * reach + 1), 0);
    for (const cv::Point &p : points) {
        const int strip = std::min(p.x / stripWidth, kSkewStrips);
        ++counts[static_cast<size_t>(strip) * (2 * reach + 1) +
                 static_cast<size_t>(std::lround(-s * p.x + c * p.y + reach))];
    }
    double sharpness = 0.0;
    for (const int n : counts)
        sharpness += static_cast<double>(n) * n;
    return sharpness;
}

// The turn (degrees, as cv::getRotationMatrix2D takes it) that levels the
// page's lines: a scanned sheet is seldom laid quite straight, and lines
// that run downhill touch their neighbours in every row.
double levellingTurn(const cv::Mat &ink, int lineHeight)
{
    const double scale = std::clamp(static_cast<double>(kSkewLineHeight) / lineHeight, kLeastSkewScale, 1.0);
    cv::Mat small;
    cv::resize(ink, small, cv::Size(), scale, scale, cv::INTER_AREA);
    std::vector<cv::Point> points;
    cv::findNonZero(small, points);
    if (points.empty())
        return 0.0;
    const auto best = [&](double from, double to, double step) {
        double bestTurn = 0.0, bestSharpness = -1.0;
        for (double turn = from; turn <= to + step / 2; turn += step) {
            const double sharpness = rowSharpness(points, turn, small.size());
            if (sharpness > bestSharpness) {
                bestSharpness = sharpness;
                bestTurn = turn;
            }
        }
        return bestTurn;
    };
    const double coarse = best(-kMostSkew, kMostSkew, kCoarseSkewStep);
    return best(coarse - kCoarseSkewStep, coarse + kCoarseSkewStep, kFineSkewStep);
}

// The page turned by `degrees` onto a canvas that holds all of it, white
// where nothing was; `back` maps the canvas to the page.
cv::Mat turned(const cv::Mat &even, double degrees, cv::Mat *back)
{
    const cv::Point2f centre(even.cols / 2.0f, even.rows / 2.0f);
    cv::Mat turn = cv::getRotationMatrix2D(centre, degrees, 1.0);
    const cv::Rect canvas =
        cv::RotatedRect(centre, cv::Size2f(even.size()), static_cast<float>(degrees)).boundingRect();
    turn.at<double>(0, 2) += canvas.width / 2.0 - centre.x;
    turn.at<double>(1, 2) += canvas.height / 2.0 - centre.y;
    cv::Mat out;
    cv::warpAffine(even, out, turn, canvas.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(255));
    cv::invertAffineTransform(turn, *back);
    return out;
}

// A box on the levelled canvas as a box on the page picture.
QRect onPicture(const QRect &box, const cv::Mat &back, cv::Size picture)
{
    if (back.empty())
        return box;
    std::vector<cv::Point2f> corners = {{float(box.left()), float(box.top())},
                                        {float(box.left() + box.width()), float(box.top())},
                                        {float(box.left()), float(box.top() + box.height())},
                                        {float(box.left() + box.width()), float(box.top() + box.height())}};
    cv::transform(corners, corners, back);
    const cv::Rect r = cv::boundingRect(corners) & cv::Rect(cv::Point(), picture);
    return QRect(r.x, r.y, r.width, r.height);
}

// Where a part of a character stands apart above or below the rest of its
// line (the strokes of 二 or 三, a dot over an i), the cut leaves a sliver:
// it joins the line it is closest to, when the two are no taller than a line.
std::vector<cv::Rect> joinSlivers(const std::vector<cv::Rect> &cut, int lineHeight)
{
    std::vector<cv::Rect> joined;
    for (const cv::Rect &line : cut) {
        if (!joined.empty() && !line.empty() && !joined.back().empty()) {
            const cv::Rect both = joined.back() | line;
            const bool overlapping = line.x < joined.back().br().x && joined.back().x < line.br().x;
            if (overlapping && both.height <= kJoinedLine * lineHeight &&
                (line.height < kShortLine * lineHeight || joined.back().height < kShortLine * lineHeight)) {
                joined.back() = both;
                continue;
            }
        }
        joined.push_back(line);
    }
    return joined;
}

// One line cut out with white margins and scaled to the height it is handed
// over at, by `scale`.
cv::Mat lineImage(const cv::Mat &even, cv::Rect line, int lineHeight, double margins, int height, double *scale)
{
    if (line.height < kShortLine * lineHeight) {
        const int grown = std::min(lineHeight, line.br().y);
        line = cv::Rect(line.x, line.br().y - grown, line.width, grown);
    }
    const int margin = std::max(1, static_cast<int>(std::lround(margins * line.height)));
    cv::Mat padded(line.height + 2 * margin, line.width + 2 * margin, CV_8U, cv::Scalar(255));
    even(line).copyTo(padded(cv::Rect(margin, margin, line.width, line.height)));
    *scale = static_cast<double>(height) / padded.rows;
    cv::Mat handed;
    cv::resize(padded, handed, cv::Size(std::max(1, static_cast<int>(std::lround(padded.cols * *scale))), height), 0, 0,
               *scale < 1.0 ? cv::INTER_AREA : cv::INTER_CUBIC);
    return handed;
}

QString recognisedText(tesseract::TessBaseAPI &api)
{
    const std::unique_ptr<char[]> text(api.GetUTF8Text());
    return text ? tidyRecognisedSpacing(QString::fromUtf8(text.get())) : QString();
}

bool mostlyLatin(const QString &text)
{
    int latin = 0, other = 0;
    for (const QChar c : text) {
        if (c.isSpace())
            continue;
        if (c.unicode() < 0x80)
            ++latin;
        else
            ++other;
    }
    return latin > other;
}

// The text of one line image, and how sure the recogniser is of it (0 to 100).
QString readImage(tesseract::TessBaseAPI &api, const cv::Mat &image, double scale, int resolution,
                  int *confidence = nullptr)
{
    api.SetPageSegMode(tesseract::PSM_RAW_LINE);
    api.SetImage(image.data, image.cols, image.rows, 1, static_cast<int>(image.step));
    api.SetSourceResolution(std::max(kLeastResolution, static_cast<int>(std::lround(resolution * scale))));
    const QString text = recognisedText(api);
    if (confidence)
        *confidence = api.MeanTextConf();
    return text;
}

// Reads one line on its own. With wide margins Chinese print is read best,
// but the spaces between Latin words are the recogniser's guess and some go
// missing ("foxjumps"): a line mostly in Latin script is read again with the
// narrow margins of the lines the recogniser learnt from, and its spaces are
// put between the characters of the first reading. Its characters are not
// kept: at those margins it misreads more of them, Chinese ones above all.
QString readLine(tesseract::TessBaseAPI &api, const cv::Mat &even, const cv::Rect &line, int lineHeight, int resolution)
{
    double scale = 1.0;
    QString text;
    int surest = -1;
    for (const LineCut &cut : kLineCuts) {
        if (surest >= kSureReading)
            break;
        int confidence = 0;
        const QString read = readImage(api, lineImage(even, line, lineHeight, cut.margin, cut.height, &scale), scale,
                                       resolution, &confidence);
        if (confidence > surest) {
            surest = confidence;
            text = read;
        }
    }
    if (!mostlyLatin(text))
        return text;
    const QString words = readImage(
        api, lineImage(even, line, lineHeight, kLatinLineMargin, kLineCuts[0].height, &scale), scale, resolution);
    return words.isEmpty() ? text : withSpacesOf(text, words);
}

// A run of rows too tall for one line: one line of large print is read as
// the others are, a picture not at all; lines that touch are laid out by
// tesseract itself, and appended with its boxes.
void readBlock(tesseract::TessBaseAPI &api, const cv::Mat &even, const cv::Rect &block, int lineHeight, int resolution,
               QList<OcrLine> *lines)
{
    api.SetPageSegMode(tesseract::PSM_AUTO);
    api.SetImage(even.data, even.cols, even.rows, 1, static_cast<int>(even.step));
    api.SetSourceResolution(resolution);
    api.SetRectangle(block.x, block.y, block.width, block.height);
    int found = 0;
    if (const std::unique_ptr<tesseract::PageIterator> layout(api.AnalyseLayout());
        layout && !layout->Empty(tesseract::RIL_TEXTLINE)) {
        do
            ++found;
        while (found < 2 && layout->Next(tesseract::RIL_TEXTLINE));
    }
    if (found == 0)
        return; // a picture, no print
    if (found == 1) {
        const QString text = readLine(api, even, block, lineHeight, resolution);
        if (!text.isEmpty())
            lines->append({QRect(block.x, block.y, block.width, block.height), text});
        return;
    }
    if (api.Recognize(nullptr) != 0)
        return;
    const std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    if (!it)
        return;
    const tesseract::PageIteratorLevel level = tesseract::RIL_TEXTLINE;
    do {
        const std::unique_ptr<char[]> text(it->GetUTF8Text(level));
        int left = 0, top = 0, right = 0, bottom = 0;
        if (!text || !it->BoundingBox(level, &left, &top, &right, &bottom))
            continue;
        const QString tidy = tidyRecognisedSpacing(QString::fromUtf8(text.get()));
        if (!tidy.isEmpty() && right > left && bottom > top)
            lines->append({QRect(left, top, right - left, bottom - top), tidy});
    } while (it->Next(level));
}

// What `joined` reads beyond `before`: `before` aligned, with the fewest
// edits, against the start of `joined`, spaces aside.
QString readBeyond(const QString &before, const QString &joined)
{
    QString a, b;
    for (const QChar c : before)
        if (!c.isSpace())
            a += c;
    for (const QChar c : joined)
        if (!c.isSpace())
            b += c;
    const std::vector<int> edits = editsToEachStart(a, b);
    // Of equally close starts the longest, so that the least is left beyond.
    const int end = static_cast<int>(edits.rend() - std::min_element(edits.rbegin(), edits.rend())) - 1;
    return b.mid(end);
}

// A lone mark, a full stop wrapped onto a line of its own, is read in a line
// image of its own as some character or other: the recogniser knows a mark
// by the characters it follows. It is read set after the line before it,
// foot to foot, and that line's reading taken off the front.
QString readLoneMark(tesseract::TessBaseAPI &api, const cv::Mat &even, const cv::Rect &before,
                     const QString &beforeText, const cv::Rect &mark, int lineHeight, int resolution)
{
    const int gap = std::max(1, lineHeight / kMarkGapShare);
    const int height = std::max(before.height, mark.height);
    cv::Mat joined(height, before.width + gap + mark.width, CV_8U, cv::Scalar(255));
    even(before).copyTo(joined(cv::Rect(0, height - before.height, before.width, before.height)));
    even(mark).copyTo(joined(cv::Rect(before.width + gap, height - mark.height, mark.width, mark.height)));
    const LineCut &cut = kLineCuts[0];
    double scale = 1.0;
    const cv::Mat image =
        lineImage(joined, cv::Rect(0, 0, joined.cols, joined.rows), lineHeight, cut.margin, cut.height, &scale);
    return readBeyond(beforeText, readImage(api, image, scale, resolution));
}

} // namespace

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
    cv::Mat even = evenlyLit(grey);
    const int resolution = estimatedResolution(even);
    int lineHeight = std::max(1, medianLineHeight(even));
    cv::Mat ink = inkOf(even, lineHeight);
    cv::Mat back; // from the levelled page to the picture
    const double turn = levellingTurn(ink, lineHeight);
    if (std::abs(turn) >= kLeastSkew) {
        even = turned(even, turn, &back);
        lineHeight = std::max(1, medianLineHeight(even));
        ink = inkOf(even, lineHeight);
    }

    tesseract::TessBaseAPI api;
    if (api.Init(nullptr, kOcrLanguage, tesseract::OEM_LSTM_ONLY) != 0) {
        *error = QStringLiteral("the %1 language data could not be loaded").arg(QLatin1String(kOcrLanguage));
        return false;
    }
    // Tesseract's own layout breaks the lines of some faces (a Kai face, with
    // its separate dots and hooks, above all) into pieces and joins others;
    // lines found here between clean gaps of rows are read one at a time.
    std::vector<cv::Rect> cut, blocks;
    cutIntoLines(ink, cv::Rect(0, 0, ink.cols, ink.rows), lineHeight, 0, &cut, &blocks);
    auto block = blocks.cbegin();
    QList<OcrLine> read;
    cv::Rect before; // the line just read, when it was read as a line
    for (const cv::Rect &line : joinSlivers(cut, lineHeight)) {
        if (line.empty()) {
            readBlock(api, even, *block++, lineHeight, resolution, &read);
            before = cv::Rect();
            continue;
        }
        const bool loneMark = !before.empty() && line.width < lineHeight && line.height < kShortLine * lineHeight;
        const QString text = loneMark ? readLoneMark(api, even, before, read.last().text, line, lineHeight, resolution)
                                      : readLine(api, even, line, lineHeight, resolution);
        before = text.isEmpty() ? cv::Rect() : line;
        if (!text.isEmpty())
            read.append({QRect(line.x, line.y, line.width, line.height), text});
    }
    for (OcrLine &line : read) {
        line.box = onPicture(line.box, back, grey.size());
        if (!line.box.isEmpty())
            lines->append(line);
    }
    return true;
}
