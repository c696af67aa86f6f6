#include "bench.h"

#include "scenes/deskscene.h"
#include "engine/pageturndetector.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

constexpr int kPasses = 3;

// This thread's processor time: on a shared machine the wall clock also
// counts the time other processes held the core.
double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}
constexpr int kDecisionRuns = 15;

// A page lying still, a hand turning it, the next page lying still.
std::vector<BookView> turnSequence(cv::Size size)
{
    std::vector<BookView> views;
    BookView still;
    for (int i = 0; i < 30; ++i)
        views.push_back(still);
    const int sweep = 12;
    for (int i = 1; i < sweep; ++i) {
        BookView v;
        v.turned = static_cast<double>(i) / sweep;
        v.hand = {static_cast<float>(size.width * (0.7 - 0.4 * v.turned)), size.height * 0.6f};
        views.push_back(v);
    }
    BookView next;
    next.page = 1;
    for (int i = 0; i < 30; ++i)
        views.push_back(next);
    return views;
}

int benchAutocapture()
{
    const cv::Size size(1920, 1080);
    std::vector<cv::Mat> frames;
    unsigned seed = 1;
    for (const BookView &view : turnSequence(size))
        frames.push_back(drawBookView(size, view, seed++));

    // Frames on which the detector also decided "new page?" are timed on their own line.
    PageTurnDetector detector;
    std::vector<double> perFrame, perFrameCpu;
    int shots = 0;
    for (int pass = 0; pass < kPasses; ++pass) {
        detector.reset();
        for (const cv::Mat &frame : frames) {
            const int decisions = detector.decisionCount();
            QElapsedTimer timer;
            const double cpuStart = threadCpuMs();
            timer.start();
            shots += detector.feed(frame);
            const double ms = timer.nsecsElapsed() / 1e6;
            if (detector.decisionCount() == decisions) {
                perFrame.push_back(ms);
                perFrameCpu.push_back(threadCpuMs() - cpuStart);
            }
        }
    }
    const auto p99 = [](std::vector<double> samples) {
        std::sort(samples.begin(), samples.end());
        return samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
    };
    std::printf("autocapture 1920x1080 ms=%.3f p99=%.3f cpu-ms=%.3f cpu-p99=%.3f frames=%d shots=%d\n",
                medianMs(perFrame), p99(perFrame), medianMs(perFrameCpu), p99(perFrameCpu),
                static_cast<int>(perFrame.size()), shots);

    std::vector<double> decision;
    double share = 0;
    detector.setReference(frames.front());
    for (int run = 0; run < kDecisionRuns; ++run) {
        QElapsedTimer timer;
        timer.start();
        share = detector.differenceFromReference(frames.back());
        decision.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::printf("autocapture decision ms=%.2f new-page-share=%.3f\n", medianMs(decision), share);
    // One shot per pass: the turn. The first page is the reference.
    return shots == kPasses && share > PageTurnDetector::kNewPageShare ? 0 : 1;
}

} // namespace

VORLANT_BENCH_GROUP("autocapture", benchAutocapture);
