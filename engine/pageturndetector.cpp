#include "engine/pageturndetector.h"

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace {

constexpr double kNormalisedMean = 128.0;
// Shifts larger than this (in check pixels) are not a nudge but a new view.
constexpr double kLargestShift = 16.0;
// Skin in YCrCb, very light to very dark. Wood, a brown cover and many desks
// fall inside it too, which is why only pixels that changed since the last
// settled view are judged by it.
const cv::Scalar kSkinLow(25, 135, 75);
const cv::Scalar kSkinHigh(255, 180, 130);
// A pixel of the motion picture differs from the settled view when, in the
// same light, its brightness or its chroma moved by more than these.
constexpr int kHandLevelChange = 24;
constexpr int kHandChromaChange = 10;
// Channel values below this say little about the light's gain.
constexpr int kDarkestForGain = 24;

// The motion picture averages each block over this many evenly spaced rows:
// reading the frame is the cost, and two rows of twelve at 1920 x 1080 are
// still an average of two dozen pixels, not a sample.
constexpr int kMotionRowsPerBlock = 2;
constexpr int kMaxRowsPerSum = 256;

void addRow(const uchar *row, ushort *sums, int length)
{
    int i = 0;
#if CV_SIMD
    constexpr int lanes = cv::v_uint8::nlanes;
    for (; i + lanes <= length; i += lanes) {
        cv::v_uint16 low, high;
        cv::v_expand(cv::vx_load(row + i), low, high);
        cv::v_store(sums + i, cv::vx_load(sums + i) + low);
        cv::v_store(sums + i + lanes / 2, cv::vx_load(sums + i + lanes / 2) + high);
    }
#endif
    for (; i < length; ++i)
        sums[i] += row[i];
}

} // namespace

cv::Mat blockAverage(const cv::Mat &frame, cv::Size size, int rowsPerBlock)
{
    const int bx = frame.cols / size.width;
    const int by = frame.rows / size.height;
    cv::Mat out;
    if (frame.type() != CV_8UC3 || bx < 1 || by < 1) {
        cv::resize(frame, out, size, 0, 0, cv::INTER_AREA);
        return out;
    }
    // 16-bit sums hold 257 rows of 255; no more are ever added.
    const int limit = std::min(rowsPerBlock, kMaxRowsPerSum);
    const int step = std::max(1, (by + limit - 1) / limit);
    const int left = (frame.cols - bx * size.width) / 2 * 3;
    const int top = (frame.rows - by * size.height) / 2;
    const int length = bx * size.width * 3;
    cv::Mat columnSums(size.height, bx * size.width, CV_16UC3, cv::Scalar::all(0));
    int rows = 0;
    for (int y = 0; y < size.height; ++y) {
        rows = 0;
        for (int r = 0; r < by; r += step, ++rows)
            addRow(frame.ptr<uchar>(top + y * by + r) + left, columnSums.ptr<ushort>(y), length);
    }
    cv::Mat sums;
    cv::resize(columnSums, sums, size, 0, 0, cv::INTER_AREA);
    sums.convertTo(out, CV_8U, 1.0 / rows);
    return out;
}

namespace {

cv::Mat toGrey(const cv::Mat &picture)
{
    if (picture.channels() == 1)
        return picture;
    cv::Mat grey;
    cv::cvtColor(picture, grey, picture.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
    return grey;
}

// The check picture, once per still period, by the library's area resampling.
cv::Mat greyAt(const cv::Mat &frame, cv::Size size)
{
    cv::Mat small;
    cv::resize(frame, small, size, 0, 0, cv::INTER_AREA);
    return toGrey(small);
}

// Scales the picture so that its mean is fixed: a change of light is no motion.
cv::Mat brightnessNormalised(const cv::Mat &grey)
{
    const double mean = cv::mean(grey)[0];
    cv::Mat out;
    grey.convertTo(out, CV_8U, mean > 1.0 ? kNormalisedMean / mean : 1.0);
    return out;
}

double changedShare(const cv::Mat &a, const cv::Mat &b)
{
    cv::Mat diff;
    cv::absdiff(a, b, diff);
    return static_cast<double>(cv::countNonZero(diff > PageTurnDetector::kLevelThreshold)) / diff.total();
}

// Like changedShare, but a pixel only counts when neither picture has a
// value like it within one pixel of it: what is left of a shift after the
// undo, and the edges of print resampled at another phase, do not count.
double changedShareAllowingResidualShift(const cv::Mat &a, const cv::Mat &b)
{
    const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3));
    cv::Mat aMax, aMin, bMax, bMin;
    cv::dilate(a, aMax, kernel);
    cv::erode(a, aMin, kernel);
    cv::dilate(b, bMax, kernel);
    cv::erode(b, bMin, kernel);
    const int t = PageTurnDetector::kLevelThreshold;
    const cv::Mat changed = (b > aMax + t) | (b < aMin - t) | (a > bMax + t) | (a < bMin - t);
    return static_cast<double>(cv::countNonZero(changed)) / changed.total();
}

std::array<double, 256> cumulativeHistogram(const cv::Mat &grey)
{
    std::array<double, 256> cdf{};
    for (int y = 0; y < grey.rows; ++y) {
        const uchar *row = grey.ptr<uchar>(y);
        for (int x = 0; x < grey.cols; ++x)
            cdf[row[x]] += 1.0;
    }
    double sum = 0;
    for (double &c : cdf) {
        sum += c;
        c = sum / grey.total();
    }
    return cdf;
}

// Maps the grey levels of `picture` so that its histogram meets the
// reference's: each level goes to the reference's level of the same rank.
// This holds for any steady change of light, also when a brighter light
// clips the paper, or a dimmer one darkens a wooden desk more than the ink.
// Edges between ink and paper are then off by a few levels, which the
// neighbourhood comparison forgives.
cv::Mat matchedLevels(const cv::Mat &picture, const cv::Mat &reference)
{
    const std::array<double, 256> from = cumulativeHistogram(picture);
    const std::array<double, 256> to = cumulativeHistogram(reference);
    cv::Mat table(1, 256, CV_8U);
    for (int level = 0, match = 0; level < 256; ++level) {
        while (match < 255 && to[match] < from[level])
            ++match;
        table.at<uchar>(level) = static_cast<uchar>(match);
    }
    cv::Mat out;
    cv::LUT(picture, table, out);
    return out;
}

// The picture with the light of `settled`: each channel divided by the gain
// most pixels show against it. A lamp switched on or a cloud moving changes
// every pixel's colour (white paper's into the skin colours under a warm
// lamp); a hand changes only its own.
cv::Mat inSettledLight(const cv::Mat &bgr, const cv::Mat &settled)
{
    std::vector<float> ratios;
    ratios.reserve(bgr.total());
    cv::Scalar gain;
    for (int c = 0; c < 3; ++c) {
        ratios.clear();
        for (int y = 0; y < bgr.rows; ++y) {
            const cv::Vec3b *now = bgr.ptr<cv::Vec3b>(y), *before = settled.ptr<cv::Vec3b>(y);
            for (int x = 0; x < bgr.cols; ++x)
                if (before[x][c] >= kDarkestForGain)
                    ratios.push_back(static_cast<float>(now[x][c]) / before[x][c]);
        }
        if (ratios.empty())
            return bgr;
        std::nth_element(ratios.begin(), ratios.begin() + ratios.size() / 2, ratios.end());
        gain[c] = 1.0 / std::max(ratios[ratios.size() / 2], 0.05f);
    }
    cv::Mat out;
    cv::multiply(bgr, gain, out);
    return out;
}

} // namespace

bool PageTurnDetector::feed(const cv::Mat &frame)
{
    if (frame.empty())
        return false;
    const cv::Size motionSize(kMotionWidth, kMotionHeight);
    const cv::Mat small = blockAverage(frame, motionSize, kMotionRowsPerBlock);
    const cv::Mat normalised = brightnessNormalised(toGrey(small));

    // Motion is measured against the start of the still run, so that a slow
    // drift adds up instead of hiding below the per-frame threshold.
    if (m_anchor.empty() || changedShare(normalised, m_anchor) > kMotionShare) {
        m_anchor = normalised;
        m_stillCount = 0;
        m_decided = false;
        return false;
    }
    if (m_decided || ++m_stillCount < kStillFrames)
        return false;
    if (handShare(small, m_settled) > kSkinShare)
        return false; // wait for the hand to leave; it is never photographed
    m_decided = true;
    ++m_decisions;
    m_settled = small;
    if (!hasReference()) {
        setReference(frame);
        return false;
    }
    if (differenceFromReference(frame) <= kNewPageShare)
        return false;
    setReference(frame);
    return true;
}

void PageTurnDetector::reset()
{
    m_anchor.release();
    m_reference.release();
    m_settled.release();
    m_stillCount = 0;
    m_decided = false;
}

void PageTurnDetector::setReference(const cv::Mat &frame)
{
    if (!frame.empty())
        m_reference = greyAt(frame, cv::Size(kCheckWidth, kCheckHeight));
}

double PageTurnDetector::differenceFromReference(const cv::Mat &frame) const
{
    if (m_reference.empty() || frame.empty())
        return 1.0;
    const cv::Mat current = matchedLevels(greyAt(frame, m_reference.size()), m_reference);

    cv::Mat a, b, window;
    m_reference.convertTo(a, CV_32F);
    current.convertTo(b, CV_32F);
    cv::createHanningWindow(window, a.size(), CV_32F);
    const cv::Point2d shift = cv::phaseCorrelate(a, b, window);
    cv::Mat aligned = current;
    double margin = 2;
    if (std::abs(shift.x) <= kLargestShift && std::abs(shift.y) <= kLargestShift) {
        const cv::Mat undo = (cv::Mat_<double>(2, 3) << 1, 0, -shift.x, 0, 1, -shift.y);
        cv::warpAffine(current, aligned, undo, current.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
        margin += std::ceil(std::max(std::abs(shift.x), std::abs(shift.y)));
    }
    // The border uncovered by the shift says nothing about the page.
    const cv::Rect inner(static_cast<int>(margin), static_cast<int>(margin), a.cols - 2 * static_cast<int>(margin),
                         a.rows - 2 * static_cast<int>(margin));
    return changedShareAllowingResidualShift(aligned(inner), m_reference(inner));
}

double PageTurnDetector::handShare(const cv::Mat &bgr, const cv::Mat &settled)
{
    if (bgr.empty() || bgr.type() != CV_8UC3 || settled.size() != bgr.size() || settled.type() != bgr.type())
        return 0.0; // nothing settled to tell a hand from the scene by
    cv::Mat now, before, skin, change;
    cv::cvtColor(inSettledLight(bgr, settled), now, cv::COLOR_BGR2YCrCb);
    cv::cvtColor(settled, before, cv::COLOR_BGR2YCrCb);
    cv::inRange(now, kSkinLow, kSkinHigh, skin);
    cv::absdiff(now, before, change);
    cv::Mat channels[3];
    cv::split(change, channels);
    const cv::Mat changed = (channels[0] > kHandLevelChange) | (channels[1] + channels[2] > kHandChromaChange);
    const cv::Mat hand = skin & changed;
    return static_cast<double>(cv::countNonZero(hand)) / hand.total();
}
