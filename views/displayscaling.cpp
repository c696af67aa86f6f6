#include "views/displayscaling.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

QSize fittedPictureSize(QSize frame, QSize widget)
{
    if (frame.isEmpty() || widget.isEmpty())
        return QSize(0, 0);
    const double aspect = static_cast<double>(frame.width()) / frame.height();
    const int widest = std::min(widget.width(), frame.width());
    const int height = std::min(widget.height(), static_cast<int>(widest / aspect));
    const int width = static_cast<int>(height * aspect);
    return QSize(width, height);
}

namespace {

// The vertical pass runs in 16-bit lanes: weights with 7 fraction bits keep
// 255 * 128 within a signed 16-bit lane, which the horizontal pass then
// multiplies pairwise with 14-bit weights into 32-bit sums (SSE2 pmaddwd).
constexpr int kVerticalBits = 7;
constexpr int kHorizontalBits = 14;
constexpr int kResultShift = kVerticalBits + kHorizontalBits;
constexpr int32_t kResultRounding = int32_t(1) << (kResultShift - 1);
// With many source rows per output row, 7-bit weights are too coarse; such
// (small) pictures sum their rows with 14-bit weights in 32 bits instead.
constexpr int kMaxShortVerticalTaps = 8;
constexpr int kLongVerticalBits = 14;
// The horizontal pass reads four lanes at the last tap of a pixel.
constexpr int kRowPadding = 8;
// Inner loops over whole blocks of this many bytes have a fixed trip count,
// which lets the compiler vectorise them at -O2.
constexpr int kBlock = 16;

// Along one axis, the source pixels each output pixel averages and how much
// each counts. Every output has the same number of taps (`width`), padded
// with zero weights, so the inner loops have a fixed length.
struct AreaTable {
    int width = 0;
    std::vector<int> first;        // first source pixel of each output
    std::vector<uint16_t> weights; // `width` weights per output
};

// Box filter: output i averages the source interval [i*s, (i+1)*s), s = source/target >= 1.
AreaTable areaTable(int source, int target, int weightBits)
{
    const int one = 1 << weightBits;
    const double scale = static_cast<double>(source) / target;
    AreaTable table;
    // An even number of taps, so that they go in pairs; never more than the source has.
    table.width = std::min(source, static_cast<int>(std::ceil(scale)) + 1);
    table.width += table.width % 2;
    const int reach = std::min(source, table.width);
    table.first.resize(static_cast<size_t>(target));
    table.weights.assign(static_cast<size_t>(target) * static_cast<size_t>(table.width), 0);
    for (int i = 0; i < target; ++i) {
        const double begin = i * scale;
        const double end = std::min(static_cast<double>(source), (i + 1) * scale);
        const int last = std::min(source - 1, static_cast<int>(std::ceil(end)) - 1);
        // Near the far edge the window starts earlier; the extra taps weigh nothing.
        const int first = std::min(static_cast<int>(std::floor(begin)), source - reach);
        table.first[static_cast<size_t>(i)] = first;
        uint16_t *w = table.weights.data() + static_cast<size_t>(i) * static_cast<size_t>(table.width);
        int sum = 0;
        int biggest = 0;
        for (int j = std::max(first, static_cast<int>(std::floor(begin))); j <= last; ++j) {
            const double overlap = std::min(end, j + 1.0) - std::max(begin, static_cast<double>(j));
            const int k = j - first;
            w[k] = static_cast<uint16_t>(std::lround(std::max(0.0, overlap) / scale * one));
            if (w[k] > w[biggest])
                biggest = k;
            sum += w[k];
        }
        // Rounding must not brighten or darken a flat area.
        w[biggest] = static_cast<uint16_t>(w[biggest] + one - sum);
    }
    return table;
}

void accumulateRow(uint16_t *__restrict acc, const uchar *__restrict src, uint16_t weight, int n, bool firstTap)
{
    int x = 0;
    if (firstTap) {
        for (; x + kBlock <= n; x += kBlock)
            for (int k = 0; k < kBlock; ++k)
                acc[x + k] = static_cast<uint16_t>(weight * src[x + k]);
        for (; x < n; ++x)
            acc[x] = static_cast<uint16_t>(weight * src[x]);
        return;
    }
    for (; x + kBlock <= n; x += kBlock)
        for (int k = 0; k < kBlock; ++k)
            acc[x + k] = static_cast<uint16_t>(acc[x + k] + weight * src[x + k]);
    for (; x < n; ++x)
        acc[x] = static_cast<uint16_t>(acc[x] + weight * src[x]);
}

void accumulateRowLong(int32_t *__restrict acc, const uchar *__restrict src, int32_t weight, int n, bool firstTap)
{
    for (int x = 0; x < n; ++x)
        acc[x] = (firstTap ? 0 : acc[x]) + weight * src[x];
}

enum class Layout { Rgb888, Grey };

template <Layout L>
constexpr int bytesPerPixel()
{
    return L == Layout::Rgb888 ? 3 : 1;
}

inline uchar finish(int32_t sum)
{
    return static_cast<uchar>(std::min(255, (sum + kResultRounding) >> kResultShift));
}

// One output row from the vertical sums of its source rows, one pixel at a time.
template <Layout L>
void horizontalPassScalar(const uint16_t *acc, const AreaTable &cols, QRgb *out, int width)
{
    constexpr int bpp = bytesPerPixel<L>();
    const int taps = cols.width;
    for (int x = 0; x < width; ++x) {
        const uint16_t *w = cols.weights.data() + static_cast<size_t>(x) * static_cast<size_t>(taps);
        const uint16_t *p = acc + cols.first[static_cast<size_t>(x)] * bpp;
        if constexpr (L == Layout::Grey) {
            int32_t v = 0;
            for (int k = 0; k < taps; ++k)
                v += int32_t(w[k]) * p[k];
            const uchar g = finish(v);
            out[x] = qRgb(g, g, g);
        } else {
            int32_t c0 = 0, c1 = 0, c2 = 0;
            for (int k = 0; k < taps; ++k, p += bpp) {
                c0 += int32_t(w[k]) * p[0];
                c1 += int32_t(w[k]) * p[1];
                c2 += int32_t(w[k]) * p[2];
            }
            out[x] = qRgb(finish(c0), finish(c1), finish(c2));
        }
    }
}

#if defined(__SSE2__)
// The weights of each output pixel as pairs (w0, w1) repeated over the four
// 32-bit lanes, ready for pmaddwd against two interleaved pixels.
std::vector<int32_t> pairedWeights(const AreaTable &cols)
{
    const size_t pairs = static_cast<size_t>(cols.width / 2);
    std::vector<int32_t> paired(cols.first.size() * pairs * 4);
    for (size_t x = 0; x < cols.first.size(); ++x) {
        const uint16_t *w = cols.weights.data() + x * static_cast<size_t>(cols.width);
        for (size_t j = 0; j < pairs; ++j) {
            const int32_t both = int32_t(w[2 * j]) | (int32_t(w[2 * j + 1]) << 16);
            std::fill_n(paired.begin() + static_cast<std::ptrdiff_t>((x * pairs + j) * 4), 4, both);
        }
    }
    return paired;
}

// Three or four channels at once: each 32-bit lane sums one channel over two taps per step.
template <Layout L>
void horizontalPassSse2(const uint16_t *acc, const AreaTable &cols, const std::vector<int32_t> &paired, QRgb *out,
                        int width)
{
    constexpr int bpp = bytesPerPixel<L>();
    const int pairs = cols.width / 2;
    const __m128i rounding = _mm_set1_epi32(kResultRounding);
    for (int x = 0; x < width; ++x) {
        const int32_t *w = paired.data() + static_cast<size_t>(x) * static_cast<size_t>(pairs) * 4;
        const uint16_t *p = acc + cols.first[static_cast<size_t>(x)] * bpp;
        __m128i sum = _mm_setzero_si128();
        for (int j = 0; j < pairs; ++j, p += 2 * bpp, w += 4) {
            const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p));
            const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p + bpp));
            const __m128i weights = _mm_loadu_si128(reinterpret_cast<const __m128i *>(w));
            sum = _mm_add_epi32(sum, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), weights));
        }
        sum = _mm_srai_epi32(_mm_add_epi32(sum, rounding), kResultShift);
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(sum, sum), sum);
        const auto v = static_cast<uint32_t>(_mm_cvtsi128_si32(bytes));
        // Lanes hold R,G,B,-.
        out[x] = 0xff000000u | ((v & 0xffu) << 16) | (v & 0xff00u) | ((v >> 16) & 0xffu);
    }
}
#endif

// Everything one band of output rows needs; shared read-only by the bands.
struct ScaleJob {
    const QImage &src;
    QImage &dst;
    const AreaTable &cols;
    const AreaTable &rows;
    std::vector<int32_t> paired; // for the SSE2 pass only
};

template <Layout L>
void scaleRows(const ScaleJob &job, const cv::Range &range)
{
    const QImage &src = job.src;
    const AreaTable &rows = job.rows;
    const int rowBytes = src.width() * bytesPerPixel<L>();
    const bool longTaps = rows.width > kMaxShortVerticalTaps;
    std::vector<uint16_t> acc(static_cast<size_t>(rowBytes + kRowPadding), 0);
    std::vector<int32_t> longAcc(longTaps ? static_cast<size_t>(rowBytes) : 0);
    for (int y = range.start; y < range.end; ++y) {
        const int first = rows.first[static_cast<size_t>(y)];
        const uint16_t *w = rows.weights.data() + static_cast<size_t>(y) * static_cast<size_t>(rows.width);
        bool firstTap = true;
        for (int k = 0; k < rows.width; ++k) {
            // Padding rows weigh nothing; skipping them saves a pass over a whole row.
            if (w[k] == 0)
                continue;
            if (longTaps)
                accumulateRowLong(longAcc.data(), src.constScanLine(first + k), w[k], rowBytes, firstTap);
            else
                accumulateRow(acc.data(), src.constScanLine(first + k), w[k], rowBytes, firstTap);
            firstTap = false;
        }
        if (longTaps) {
            constexpr int shift = kLongVerticalBits - kVerticalBits;
            for (size_t x = 0; x < longAcc.size(); ++x)
                acc[x] = static_cast<uint16_t>((longAcc[x] + (1 << (shift - 1))) >> shift);
        }

        auto *out = reinterpret_cast<QRgb *>(job.dst.scanLine(y));
#if defined(__SSE2__)
        if constexpr (L != Layout::Grey) {
            horizontalPassSse2<L>(acc.data(), job.cols, job.paired, out, job.dst.width());
            continue;
        }
#endif
        horizontalPassScalar<L>(acc.data(), job.cols, out, job.dst.width());
    }
}

bool isGreyRamp(const QImage &image)
{
    if (image.format() == QImage::Format_Grayscale8)
        return true;
    if (image.format() != QImage::Format_Indexed8)
        return false;
    const QVector<QRgb> table = image.colorTable();
    if (table.size() != 256)
        return false;
    for (int i = 0; i < 256; ++i)
        if (table[i] != qRgb(i, i, i))
            return false;
    return true;
}

} // namespace

QImage scaleForDisplay(const QImage &frame, QSize target, QImage buffer)
{
    if (frame.isNull() || target.isEmpty())
        return QImage();
    const bool enlarges = target.width() > frame.width() || target.height() > frame.height();
    // Only where this scaler beats Qt's smooth scaling by 2x or more
    // (vorlant-bench kernel); a 32-bit picture goes to Qt.
    Layout layout = Layout::Rgb888;
    if (frame.format() == QImage::Format_RGB888)
        layout = Layout::Rgb888;
    else if (isGreyRamp(frame))
        layout = Layout::Grey;
    else
        return frame.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (enlarges)
        return frame.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);

    QImage scaled = std::move(buffer);
    if (scaled.size() != target || scaled.format() != QImage::Format_RGB32 || !scaled.isDetached())
        scaled = QImage(target, QImage::Format_RGB32);
    if (scaled.isNull())
        return scaled;
    const AreaTable cols = areaTable(frame.width(), target.width(), kHorizontalBits);
    AreaTable rows = areaTable(frame.height(), target.height(), kVerticalBits);
    if (rows.width > kMaxShortVerticalTaps)
        rows = areaTable(frame.height(), target.height(), kLongVerticalBits);
    ScaleJob job{frame, scaled, cols, rows, {}};
#if defined(__SSE2__)
    job.paired = pairedWeights(cols);
#endif
    // Rows are independent; split them across OpenCV's worker threads.
    cv::parallel_for_(cv::Range(0, target.height()), [&](const cv::Range &range) {
        switch (layout) {
        case Layout::Rgb888:
            scaleRows<Layout::Rgb888>(job, range);
            break;
        case Layout::Grey:
            scaleRows<Layout::Grey>(job, range);
            break;
        }
    });
    return scaled;
}
