#include "engine/pipeline.h"

#include "engine/detection.h"

#include <QTransform>

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define VORLANT_WIDE_KERNEL 1
#include <immintrin.h>
#endif

#include <algorithm>
#include <cstdint>
#include <functional>

#ifdef VORLANT_TSAN_BUILD
// ThreadSanitizer cannot see how OpenCV's (uninstrumented) worker pool hands
// a job to its threads, so it would flag every parallel loop. Under it, loops
// run on the calling thread, where our own threads are still fully checked.
[[maybe_unused]] static const bool kOpenCvOnCallingThread = (cv::setNumThreads(1), true);
#endif

namespace {

constexpr double kAdaptiveMaxValue = 255.0;
const cv::Scalar kSingleOutlineColour(0, 255, 0);
const cv::Scalar kMultipleOutlineColour(0, 0, 255);

// Rows per parallel work item. Each stripe's box filter also reads the 24
// rows around it, so stripes much thinner than this waste work.
constexpr int kStripeRows = 128;
// Smaller pictures take the library's whole-picture routines: splitting them
// would cost more than it saves.
constexpr int kStripedMinPixels = 1 << 18;

int stripeCount(int rows)
{
    return (rows + kStripeRows - 1) / kStripeRows;
}

cv::Range stripeRange(int stripe, int rows)
{
    return cv::Range(stripe * kStripeRows, std::min(rows, (stripe + 1) * kStripeRows));
}

// Runs `stripe` for every stripe of `rows` rows in parallel; `extra`, when
// given, runs as one more work item beside them (the contour search, which
// cannot be split, overlaps the striped work that way).
void forEachStripe(int rows, const std::function<void(cv::Range)> &stripe, const std::function<void()> &extra = {})
{
    const int first = extra ? -1 : 0;
    cv::parallel_for_(cv::Range(first, stripeCount(rows)), [&](const cv::Range &items) {
        for (int i = items.start; i < items.end; ++i) {
            if (i < 0)
                extra();
            else
                stripe(stripeRange(i, rows));
        }
    });
}

// The frame's grey picture and, when asked for, the detector's mask, made
// stripe by stripe so that each stripe is thresholded while still in cache.
void makeGrey(const cv::Mat &bgr, cv::Mat &grey, cv::Mat *mask)
{
    grey.create(bgr.size(), CV_8UC1);
    if (mask)
        mask->create(bgr.size(), CV_8UC1);
    forEachStripe(bgr.rows, [&](cv::Range rows) {
        cv::Mat greyRows = grey.rowRange(rows);
        cv::cvtColor(bgr.rowRange(rows), greyRows, cv::COLOR_BGR2GRAY);
        if (mask) {
            cv::Mat maskRows = mask->rowRange(rows);
            documentMask(greyRows, maskRows);
        }
    });
}

// Rows handled at a time when a stripe's mask is turned into colour, small
// enough that the work images stay in the processor's cache.
constexpr int kBlockRows = 16;

// cv::adaptiveThreshold with THRESH_BINARY makes a pixel white when
// grey - mean > -cvCeil(C), i.e. when mean - grey < cvCeil(C).
int whiteLimit()
{
    return cvCeil(kAdaptiveConstant);
}

// With a saturating subtraction the test above needs no sign.
void whiteMaskRow(const uchar *grey, const uchar *mean, uchar *mask, int width)
{
    const int limit = whiteLimit();
    int x = 0;
#if CV_SIMD128
    const cv::v_uint8x16 vLimit = cv::v_setall_u8(static_cast<uchar>(limit));
    for (; x <= width - 16; x += 16)
        cv::v_store(mask + x, (cv::v_load(mean + x) - cv::v_load(grey + x)) < vLimit);
#endif
    for (; x < width; ++x)
        mask[x] = mean[x] - grey[x] < limit ? 255 : 0;
}

// The library's box filter on a view of the whole grey picture reads the real
// rows around the view and replicates only the picture's own edges: the same
// means as cv::adaptiveThreshold computes over the whole picture.
void libraryWhiteRows(const cv::Mat &grey, cv::Range rows, cv::Mat &mask)
{
    cv::Mat mean;
    cv::boxFilter(grey.rowRange(rows), mean, CV_8U, cv::Size(kAdaptiveBlockSize, kAdaptiveBlockSize),
                  cv::Point(-1, -1), true, cv::BORDER_REPLICATE);
    for (int y = rows.start; y < rows.end; ++y)
        whiteMaskRow(grey.ptr(y), mean.ptr(y - rows.start), mask.ptr(y - rows.start), grey.cols);
}

#ifdef VORLANT_WIDE_KERNEL

// The 256-bit kernel works on exact neighbourhood sums S instead of rounded
// means. The library rounds S / 625 to the nearest whole number, which is
// never a tie since 625 is odd, so mean - grey < 20 holds exactly when
// S < 625 * grey + 625 * 20 - 312. Every partial sum is exact: a column of 25
// grey levels is at most 6375, and two groups of five columns at most 63750,
// both within 16 bits; S itself is added up in 32 bits.
constexpr int kBlockArea = kAdaptiveBlockSize * kAdaptiveBlockSize;
constexpr int kBlockHalf = kAdaptiveBlockSize / 2;
constexpr int kGroup = 5; // columns per partial sum
static_assert(kAdaptiveBlockSize == 5 * kGroup, "the row sums add five groups of five columns");

bool hasWideKernel()
{
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
}

__attribute__((target("avx2"))) void addRowWide(uint16_t *sums, const uchar *adding, const uchar *removing, int width)
{
    int x = 0;
    for (; x <= width - 16; x += 16) {
        __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(sums + x));
        v = _mm256_add_epi16(v, _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(adding + x))));
        if (removing)
            v = _mm256_sub_epi16(
                v, _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(removing + x))));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(sums + x), v);
    }
    for (; x < width; ++x)
        sums[x] = static_cast<uint16_t>(sums[x] + adding[x] - (removing ? removing[x] : 0));
}

__attribute__((target("avx2"))) void groupSumsWide(const uint16_t *columns, uint16_t *groups, int count)
{
    int x = 0;
    for (; x <= count - 16; x += 16) {
        __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(columns + x));
        for (int k = 1; k < kGroup; ++k)
            s = _mm256_add_epi16(s, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(columns + x + k)));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(groups + x), s);
    }
    for (; x < count; ++x) {
        int s = 0;
        for (int k = 0; k < kGroup; ++k)
            s += columns[x + k];
        groups[x] = static_cast<uint16_t>(s);
    }
}

__attribute__((target("avx2"))) inline __m256i load16(const uint16_t *at)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at));
}

// The verdict for 16 pixels from their group sums and grey levels: 0xff white, 0 black.
__attribute__((target("avx2"))) inline __m128i whiteMask16(const uint16_t *groups, const uchar *grey, __m256i area,
                                                           __m256i offset)
{
    const __m256i a = _mm256_add_epi16(load16(groups), load16(groups + kGroup));
    const __m256i b = _mm256_add_epi16(load16(groups + 2 * kGroup), load16(groups + 3 * kGroup));
    const __m256i c = load16(groups + 4 * kGroup);
    const __m256i sumLow = _mm256_add_epi32(_mm256_add_epi32(_mm256_cvtepu16_epi32(_mm256_castsi256_si128(a)),
                                                             _mm256_cvtepu16_epi32(_mm256_castsi256_si128(b))),
                                            _mm256_cvtepu16_epi32(_mm256_castsi256_si128(c)));
    const __m256i sumHigh = _mm256_add_epi32(_mm256_add_epi32(_mm256_cvtepu16_epi32(_mm256_extracti128_si256(a, 1)),
                                                              _mm256_cvtepu16_epi32(_mm256_extracti128_si256(b, 1))),
                                             _mm256_cvtepu16_epi32(_mm256_extracti128_si256(c, 1)));
    const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i *>(grey));
    const __m256i limitLow = _mm256_add_epi32(_mm256_mullo_epi32(_mm256_cvtepu8_epi32(g), area), offset);
    const __m256i limitHigh =
        _mm256_add_epi32(_mm256_mullo_epi32(_mm256_cvtepu8_epi32(_mm_srli_si128(g, 8)), area), offset);
    const __m256i white = _mm256_permute4x64_epi64(
        _mm256_packs_epi32(_mm256_cmpgt_epi32(limitLow, sumLow), _mm256_cmpgt_epi32(limitHigh, sumHigh)), 0xD8);
    return _mm_packs_epi16(_mm256_castsi256_si128(white), _mm256_extracti128_si256(white, 1));
}

uchar whiteMask1(const uint16_t *groups, uchar grey, int offset)
{
    int sum = 0;
    for (int k = 0; k < kAdaptiveBlockSize; k += kGroup)
        sum += groups[k];
    return sum < kBlockArea * grey + offset ? 255 : 0;
}

__attribute__((target("avx2"))) void whiteRowWide(const uint16_t *groups, const uchar *grey, uchar *mask, int width,
                                                  int offset)
{
    const __m256i area = _mm256_set1_epi32(kBlockArea);
    const __m256i shift = _mm256_set1_epi32(offset);
    int x = 0;
    for (; x <= width - 16; x += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(mask + x), whiteMask16(groups + x, grey + x, area, shift));
    for (; x < width; ++x)
        mask[x] = whiteMask1(groups + x, grey[x], offset);
}

// One row of a black-and-white picture, or, with `frame`, of the frame with
// its background removed (the frame OR the mask), written straight as BGR.
__attribute__((target("avx2"))) void colourRowWide(const uint16_t *groups, const uchar *grey, const uchar *frame,
                                                   uchar *out, int width, int offset)
{
    const __m256i area = _mm256_set1_epi32(kBlockArea);
    const __m256i shift = _mm256_set1_epi32(offset);
    // Each mask byte repeated for the three channels of its pixel.
    const __m128i spread0 = _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
    const __m128i spread1 = _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10);
    const __m128i spread2 = _mm_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15);
    int x = 0;
    for (; x <= width - 16; x += 16) {
        const __m128i white = whiteMask16(groups + x, grey + x, area, shift);
        __m128i parts[3] = {_mm_shuffle_epi8(white, spread0), _mm_shuffle_epi8(white, spread1),
                            _mm_shuffle_epi8(white, spread2)};
        for (int k = 0; k < 3; ++k) {
            if (frame)
                parts[k] = _mm_or_si128(parts[k],
                                        _mm_loadu_si128(reinterpret_cast<const __m128i *>(frame + 3 * x + 16 * k)));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 3 * x + 16 * k), parts[k]);
        }
    }
    for (; x < width; ++x) {
        const uchar white = whiteMask1(groups + x, grey[x], offset);
        for (int c = 0; c < 3; ++c)
            out[3 * x + c] = frame ? frame[3 * x + c] | white : white;
    }
}

// Walks the rows `rows` of a grey picture keeping the column sums of the 25
// rows around each row up to date, and hands each row's five-column group
// sums to `use(y, groups)`.
template <typename Use>
void walkGroupSums(const cv::Mat &grey, cv::Range rows, Use use)
{
    const int width = grey.cols;
    auto greyRow = [&grey](int y) { return grey.ptr(std::clamp(y, 0, grey.rows - 1)); };
    // Column sums with kBlockHalf replicated columns on either side.
    std::vector<uint16_t> padded(static_cast<size_t>(width) + 2 * kBlockHalf, 0);
    std::vector<uint16_t> groups(static_cast<size_t>(width) + kAdaptiveBlockSize - kGroup);
    uint16_t *columns = padded.data() + kBlockHalf;
    for (int k = -kBlockHalf; k <= kBlockHalf; ++k)
        addRowWide(columns, greyRow(rows.start + k), nullptr, width);
    for (int y = rows.start; y < rows.end; ++y) {
        if (y > rows.start)
            addRowWide(columns, greyRow(y + kBlockHalf), greyRow(y - kBlockHalf - 1), width);
        std::fill(padded.begin(), padded.begin() + kBlockHalf, columns[0]);
        std::fill(padded.end() - kBlockHalf, padded.end(), columns[width - 1]);
        groupSumsWide(padded.data(), groups.data(), static_cast<int>(groups.size()));
        use(y, groups.data());
    }
}

int wideOffset()
{
    return kBlockArea * whiteLimit() - kBlockArea / 2;
}
#endif

} // namespace

void adaptiveThresholdRows(const cv::Mat &grey, cv::Range rows, cv::Mat &mask, bool allowWideKernel)
{
    mask.create(rows.size(), grey.cols, CV_8UC1);
#ifdef VORLANT_WIDE_KERNEL
    if (allowWideKernel && hasWideKernel()) {
        const int offset = wideOffset();
        walkGroupSums(grey, rows, [&](int y, const uint16_t *groups) {
            whiteRowWide(groups, grey.ptr(y), mask.ptr(y - rows.start), grey.cols, offset);
        });
        return;
    }
#else
    (void)allowWideKernel;
#endif
    // The box filter would read beyond a view's edges: give it a picture of its own.
    libraryWhiteRows(grey.isSubmatrix() ? grey.clone() : grey, rows, mask);
}

namespace {

// Black-and-white or background-removed rows of one stripe. Adding the white
// of the threshold saturates and adding its black changes nothing, so
// background removal is the frame OR the three-channel mask.
void thresholdStripe(const cv::Mat &in, const cv::Mat &grey, cv::Mat &out, int shootingType, cv::Range rows,
                     bool allowWideKernel)
{
    const bool keepInk = shootingType == kShootBackgroundRemoved;
#ifdef VORLANT_WIDE_KERNEL
    if (allowWideKernel && hasWideKernel()) {
        const int offset = wideOffset();
        walkGroupSums(grey, rows, [&](int y, const uint16_t *groups) {
            colourRowWide(groups, grey.ptr(y), keepInk ? in.ptr(y) : nullptr, out.ptr(y), in.cols, offset);
        });
        return;
    }
#endif
    cv::Mat mask;
    adaptiveThresholdRows(grey, rows, mask, false);
    cv::Mat mask3;
    for (int top = rows.start; top < rows.end; top += kBlockRows) {
        const cv::Range block(top, std::min(rows.end, top + kBlockRows));
        const cv::Mat blockMask = mask.rowRange(block.start - rows.start, block.end - rows.start);
        cv::Mat target = out.rowRange(block);
        if (keepInk) {
            cv::cvtColor(blockMask, mask3, cv::COLOR_GRAY2BGR);
            cv::bitwise_or(in.rowRange(block), mask3, target);
        } else {
            cv::cvtColor(blockMask, target, cv::COLOR_GRAY2BGR);
        }
    }
}

// The straightforward sequence, for pictures too small to be worth splitting.
void thresholdWhole(const cv::Mat &in, const cv::Mat &grey, cv::Mat &out, int shootingType)
{
    cv::Mat bw;
    cv::adaptiveThreshold(grey, bw, kAdaptiveMaxValue, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY,
                          kAdaptiveBlockSize, kAdaptiveConstant);
    if (shootingType == kShootBlackWhite) {
        cv::cvtColor(bw, out, cv::COLOR_GRAY2BGR);
    } else {
        cv::Mat bw3;
        cv::cvtColor(bw, bw3, cv::COLOR_GRAY2BGR);
        cv::add(in, bw3, out);
    }
}

bool isThresholdType(int shootingType)
{
    return shootingType == kShootBlackWhite || shootingType == kShootBackgroundRemoved;
}

// Shooting types 1 to 3 on a BGR frame whose grey picture is already made;
// `alongside` runs in parallel with the striped work. Returns the picture.
cv::Mat shootingTypePicture(const cv::Mat &in, const cv::Mat &grey, int shootingType,
                            const std::function<void()> &alongside, bool allowWideKernel = true)
{
    if (shootingType == kShootGrey) {
        if (alongside)
            alongside();
        return grey;
    }
    cv::Mat out;
    if (in.total() < static_cast<size_t>(kStripedMinPixels)) {
        if (alongside)
            alongside();
        thresholdWhole(in, grey, out, shootingType);
        return out;
    }
    out.create(in.size(), CV_8UC3);
    forEachStripe(
        in.rows, [&](cv::Range rows) { thresholdStripe(in, grey, out, shootingType, rows, allowWideKernel); },
        alongside);
    return out;
}

bool isDrawable(const cv::RotatedRect &rect)
{
    return rect.size.width * rect.size.height > kMinDocumentArea;
}

cv::Mat parallelCopy(const cv::Mat &in)
{
    cv::Mat copy(in.size(), in.type());
    forEachStripe(in.rows, [&](cv::Range rows) {
        cv::Mat target = copy.rowRange(rows);
        in.rowRange(rows).copyTo(target);
    });
    return copy;
}

} // namespace

void applyShootingType(const cv::Mat &in, cv::Mat &out, int shootingType)
{
    applyShootingType(in, out, shootingType, true);
}

void applyShootingType(const cv::Mat &in, cv::Mat &out, int shootingType, bool allowWideKernel)
{
    if (!isThresholdType(shootingType) && shootingType != kShootGrey) {
        out = in;
        return;
    }
    if (in.empty() || in.type() != CV_8UC3) {
        // Nothing a BGR conversion could use: passed on unchanged rather than thrown at.
        out = in;
        return;
    }
    cv::Mat grey;
    makeGrey(in, grey, nullptr);
    out = shootingTypePicture(in, grey, shootingType, {}, allowWideKernel);
}

void drawDocumentOutlines(cv::Mat &picture, const std::vector<cv::RotatedRect> &rects, bool singleMode,
                          double scale)
{
    // On a one-channel picture only the first component counts: black.
    const cv::Scalar colour = singleMode ? kSingleOutlineColour : kMultipleOutlineColour;
    const int thickness = std::max(1, cvRound(kOutlineThickness / scale));
    const auto shrink = static_cast<float>(1.0 / scale);
    for (const auto &rect : rects) {
        if (!isDrawable(rect))
            continue;
        cv::Point2f corners[4];
        rect.points(corners);
        for (int i = 0; i < 4; ++i) {
            const cv::Point2f a = corners[i] * shrink;
            const cv::Point2f b = corners[(i + 1) % 4] * shrink;
            cv::line(picture, cv::Point(cvRound(a.x), cvRound(a.y)), cv::Point(cvRound(b.x), cvRound(b.y)), colour,
                     thickness, cv::LINE_8, 0);
        }
    }
}

std::vector<cv::RotatedRect> processFrame(const cv::Mat &in, cv::Mat &out, int correctionMode, int shootingType,
                                          bool drawOutlines)
{
    if (in.empty() || in.type() != CV_8UC3) {
        out = in;
        return {};
    }
    // Modes other than 1 and 2 return no rectangles, so they need no search.
    const bool detect = correctionMode == kCorrectSingle || correctionMode == kCorrectMultiple;
    const bool converted = shootingType == kShootGrey || isThresholdType(shootingType);

    DetectedDocuments found;
    cv::Mat result;
    if (detect || converted) {
        // One grey picture serves both the detector and the shooting type.
        cv::Mat grey, mask;
        makeGrey(in, grey, detect ? &mask : nullptr);
        std::function<void()> search;
        if (detect)
            search = [&] { found = detectDocumentsInMask(mask); };
        if (converted) {
            result = shootingTypePicture(in, grey, shootingType, search);
        } else {
            search();
            result = in;
        }
    } else {
        result = in;
    }

    std::vector<cv::RotatedRect> rects = documentsForMode(found, detect ? correctionMode : kCorrectNone);
    if (drawOutlines && std::any_of(rects.begin(), rects.end(), isDrawable)) {
        // The caller's frame is shared, not copied: outlines go into a copy.
        if (result.data == in.data)
            result = parallelCopy(in);
        drawDocumentOutlines(result, rects, correctionMode == kCorrectSingle);
    }
    out = result;
    return rects;
}

QImage rotateQuarterTurns(const QImage &picture, int rotationIndex)
{
    if (rotationIndex < 1 || rotationIndex > 3 || picture.isNull())
        return picture;
    // Qt turns by whole quarters without resampling.
    QTransform matrix;
    matrix.rotate(90.0 * rotationIndex);
    return picture.transformed(matrix, Qt::SmoothTransformation);
}

int nextRotationIndex(int rotationIndex, int step)
{
    if (step == 0)
        rotationIndex += 2;
    else if (step == 1 || step == -1)
        rotationIndex += step;
    if (rotationIndex == 4)
        return 0;
    if (rotationIndex == 5)
        return 1;
    if (rotationIndex == -1)
        return 3;
    return rotationIndex;
}
