// Each hand-written pixel kernel against the library calls that do the same
// job, on the same full-resolution camera picture. A kernel earns its place
// only when it is at least twice as fast as the fastest library call, with
// the same pixels.
#include "bench.h"

#include "engine/detection.h"
#include "engine/frameconversion.h"
#include "engine/photo.h"
#include "engine/pipeline.h"
#include "scenes/deskscene.h"
#include "views/displayscaling.h"

#include <QElapsedTimer>
#include <QImage>

#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <functional>
#include <string>

namespace {

const cv::Size kCameraSize(3264, 2448);
const QSize kPreviewSize(1000, 750);
constexpr int kKernelRuns = 21;

using Work = std::function<void()>;

// Medians of the candidates' times, run in turn so that a busy machine slows them alike.
std::vector<double> timeInTurn(const std::vector<Work> &candidates)
{
    std::vector<std::vector<double>> samples(candidates.size());
    for (int run = -1; run < kKernelRuns; ++run) {
        for (size_t i = 0; i < candidates.size(); ++i) {
            QElapsedTimer clock;
            clock.start();
            candidates[i]();
            // The first round warms up caches and the allocator.
            if (run >= 0)
                samples[i].push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        }
    }
    std::vector<double> medians;
    for (const auto &s : samples)
        medians.push_back(medianMs(s));
    return medians;
}

QString difference(const cv::Mat &a, const cv::Mat &b)
{
    if (a.size() != b.size() || a.type() != b.type())
        return QStringLiteral("no(size)");
    cv::Mat diff;
    cv::absdiff(a, b, diff);
    const cv::Mat flat = diff.reshape(1);
    const double largest = cv::norm(flat, cv::NORM_INF);
    if (largest == 0.0)
        return QStringLiteral("yes");
    return QStringLiteral("no(max=%1,mean=%2,values=%3%)")
        .arg(largest)
        .arg(cv::mean(flat)[0], 0, 'f', 4)
        .arg(100.0 * cv::countNonZero(flat) / static_cast<double>(flat.total()), 0, 'f', 3);
}

cv::Mat imageMat(const QImage &image)
{
    const int type = image.depth() == 8 ? CV_8UC1 : image.depth() == 24 ? CV_8UC3 : CV_8UC4;
    return cv::Mat(image.height(), image.width(), type, const_cast<uchar *>(image.constBits()),
                   static_cast<size_t>(image.bytesPerLine()));
}

// One kernel and the library calls that do its job. The line names the
// fastest of those whose pixels the kernel's tests would accept from it (the
// same, or within the kernel's stated tolerance); the others follow indented.
struct Candidate {
    std::string name;
    Work run;
    std::function<QString()> identical; // compared with the kernel's result
    bool acceptable = true;
};

void compare(const std::string &kernel, const Work &ours, const std::vector<Candidate> &library)
{
    std::vector<Work> all{ours};
    for (const Candidate &c : library)
        all.push_back(c.run);
    const std::vector<double> ms = timeInTurn(all);
    size_t best = 0;
    for (size_t i = 0; i < library.size(); ++i) {
        if (library[i].acceptable && (!library[best].acceptable || ms[i + 1] < ms[best + 1]))
            best = i;
    }
    std::printf("kernel %s library_ms=%.2f ours_ms=%.2f identical=%s speed-up=%.2f (library: %s)\n", kernel.c_str(),
                ms[best + 1], ms[0], qPrintable(library[best].identical()), ms[best + 1] / ms[0],
                library[best].name.c_str());
    for (size_t i = 0; i < library.size(); ++i) {
        if (i != best)
            std::printf("  %s ms=%.2f identical=%s%s\n", library[i].name.c_str(), ms[i + 1],
                        qPrintable(library[i].identical()), library[i].acceptable ? "" : " (not accepted)");
    }
    std::fflush(stdout);
}

// The cut-out of every document on the desk: the kernel turns only the
// region around each; the library turns the whole picture, or the region
// alone with the map rounded from the region's corner, which moves some
// sampling positions by 1/32 pixel (not the whole picture's pixels).
void cutOutKernel(const cv::Mat &frame)
{
    const std::vector<cv::RotatedRect> rects = documentsForMode(detectDocuments(frame), kCorrectMultiple);
    std::vector<cv::Mat> ours(rects.size()), full(rects.size()), region(rects.size());
    const auto sameAsOurs = [&](const std::vector<cv::Mat> &other) {
        QString worst = QStringLiteral("yes");
        for (size_t i = 0; i < rects.size(); ++i) {
            const QString d = difference(ours[i], other[i]);
            worst = d == QLatin1String("yes") ? worst : d;
        }
        return worst;
    };
    const auto regionByLibrary = [&frame](const cv::RotatedRect &rect) {
        float angle = rect.angle;
        cv::Size size(cvRound(rect.size.width), cvRound(rect.size.height));
        if (angle < -45.0f) {
            angle += 90.0f;
            std::swap(size.width, size.height);
        }
        const cv::Rect box = cv::Rect(cv::RotatedRect(rect.center, cv::Size2f(size), 0.0f).boundingRect()) &
                             cv::Rect(0, 0, frame.cols, frame.rows);
        cv::Mat matrix = cv::getRotationMatrix2D(rect.center, angle, 1.0);
        matrix.at<double>(0, 2) -= box.x - 2;
        matrix.at<double>(1, 2) -= box.y - 2;
        cv::Mat turned, cut;
        cv::warpAffine(frame, turned, matrix, box.size() + cv::Size(4, 4), cv::INTER_CUBIC, cv::BORDER_CONSTANT,
                       cv::Scalar::all(0));
        cv::getRectSubPix(turned, size, rect.center - cv::Point2f(box.tl()) + cv::Point2f(2, 2), cut);
        return cut;
    };
    compare("cut-out-warp",
            [&] {
                for (size_t i = 0; i < rects.size(); ++i)
                    ours[i] = extractDocument(frame, rects[i]);
            },
            {{"cv::warpAffine(whole picture)",
              [&] {
                  for (size_t i = 0; i < rects.size(); ++i)
                      full[i] = extractDocumentByFullWarp(frame, rects[i]);
              },
              [&] { return sameAsOurs(full); }},
             {"cv::warpAffine(region)",
              [&] {
                  for (size_t i = 0; i < rects.size(); ++i)
                      region[i] = regionByLibrary(rects[i]);
              },
              [&] { return sameAsOurs(region); }, false}});
}

void displayScalerKernel(const cv::Mat &frame)
{
    // RGB32 pictures go to QImage::scaled: the hand-written pass was under 2x faster there.
    for (const QImage::Format format : {QImage::Format_RGB888, QImage::Format_Grayscale8}) {
        const QImage picture = matToQImage(frame).convertToFormat(format);
        const QSize target = fittedPictureSize(picture.size(), kPreviewSize);
        QImage ours, smooth;
        QImage resized(target, QImage::Format_RGB32);
        cv::Mat shrunk;
        const std::string name = format == QImage::Format_RGB888 ? "display-scale-rgb" : "display-scale-grey";
        compare(name, [&] { ours = scaleForDisplay(picture, target, std::move(ours)); },
                {{"cv::resize(INTER_AREA)",
                  [&] {
                      cv::resize(imageMat(picture), shrunk, cv::Size(target.width(), target.height()), 0, 0,
                                 cv::INTER_AREA);
                      cv::Mat out = imageMat(resized);
                      cv::cvtColor(shrunk, out,
                                   format == QImage::Format_RGB888 ? cv::COLOR_RGB2BGRA : cv::COLOR_GRAY2BGRA);
                  },
                  [&] { return difference(imageMat(ours), imageMat(resized)); }},
                 {"QImage::scaled(smooth)",
                  [&] {
                      smooth = picture.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                   .convertToFormat(QImage::Format_RGB32);
                  },
                  [&] { return difference(imageMat(ours), imageMat(smooth)); }}});
    }
}

void thresholdKernel(const cv::Mat &frame)
{
    cv::Mat grey;
    cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    cv::Mat ours, library;
    compare("adaptive-threshold", [&] { adaptiveThresholdRows(grey, cv::Range(0, grey.rows), ours, true); },
            {{"cv::adaptiveThreshold",
              [&] {
                  cv::adaptiveThreshold(grey, library, 255.0, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY,
                                        kAdaptiveBlockSize, kAdaptiveConstant);
              },
              [&] { return difference(ours, library); }}});

    // The black-and-white picture as the preview and photographs make it
    // (the kernel's sums written straight out as BGR), on one core.
    const int threads = cv::getNumThreads();
    cv::setNumThreads(1);
    cv::Mat fused, striped, plain;
    compare("black-and-white-picture", [&] { applyShootingType(frame, fused, kShootBlackWhite, true); },
            {{"cv::boxFilter in stripes", [&] { applyShootingType(frame, striped, kShootBlackWhite, false); },
              [&] { return difference(fused, striped); }},
             {"cv::adaptiveThreshold+cvtColor",
              [&] {
                  cv::Mat ownGrey, bw;
                  cv::cvtColor(frame, ownGrey, cv::COLOR_BGR2GRAY);
                  cv::adaptiveThreshold(ownGrey, bw, 255.0, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY,
                                        kAdaptiveBlockSize, kAdaptiveConstant);
                  cv::cvtColor(bw, plain, cv::COLOR_GRAY2BGR);
              },
              [&] { return difference(fused, plain); }}});
    cv::setNumThreads(threads);
}

int benchKernels()
{
    const cv::Mat frame = drawDeskScene(kCameraSize, demoSheets(kCameraSize));
    std::printf("kernels on a %dx%d desk scene, medians of %d runs taken in turn\n", kCameraSize.width,
                kCameraSize.height, kKernelRuns);
    cutOutKernel(frame);
    displayScalerKernel(frame);
    thresholdKernel(frame);
    return 0;
}

} // namespace

VORLANT_BENCH_GROUP("kernel", benchKernels);
