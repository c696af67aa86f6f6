#include "bench.h"

#include "engine/pageturndetector.h"
#include "scenes/pageturns.h"

#include <cstdio>

namespace {

const cv::Size kFrameSize(960, 540);

// Three turns, the hand resting on the second new page a while, then light
// that steps up and a nudge of the book: one shot per turn and no other.
std::vector<BookView> evalSequence(const BookView &look)
{
    BookView brighter = look, nudged = look;
    brighter.light = 1.15;
    nudged.light = 1.15;
    nudged.shift = {2, 1};
    return PageTurnScript(kFrameSize, look)
        .still(20)
        .turn(6, 10, 6)
        .still(20)
        .turn(5, 8, 0)
        .handRests(45)
        .still(20)
        .turn(3, 5, 3, 12)
        .still(20)
        .with(brighter, 30)
        .with(nudged, 30)
        .views();
}

int benchPageTurnEval()
{
    int missed = 0, falseShots = 0;
    for (const DeskKind &desk : deskKinds()) {
        for (const SkinTone &skin : skinTones()) {
            BookView look;
            look.desk = desk.surface;
            look.skin = skin.bgr;
            look.cover = desk.surface == DeskSurface::Oak || desk.surface == DeskSurface::White;
            const std::vector<BookView> views = evalSequence(look);
            int turns = 0;
            for (const BookView &v : views)
                turns = std::max(turns, v.page);
            PageTurnDetector detector;
            std::vector<bool> shotPage(turns + 1, false);
            int shots = 0, wrong = 0;
            for (size_t i = 0; i < views.size(); ++i) {
                if (!detector.feed(drawBookView(kFrameSize, views[i], static_cast<unsigned>(i + 1))))
                    continue;
                ++shots;
                // A shot mid-turn, with the hand in view, of the first page or a page twice is false.
                const BookView &v = views[i];
                if (v.turned != 0.0 || v.hand.x >= 0 || v.page == 0 || shotPage[v.page])
                    ++wrong;
                else
                    shotPage[v.page] = true;
            }
            const int taken = shots - wrong;
            std::printf("pageturn-eval desk=%s skin=%s turns=%d shot=%d false=%d\n", desk.name, skin.name, turns, taken,
                        wrong);
            std::fflush(stdout);
            missed += turns - taken;
            falseShots += wrong;
        }
    }
    std::printf("pageturn-eval all missed=%d false=%d\n", missed, falseShots);
    return missed == 0 && falseShots == 0 ? 0 : 1;
}

} // namespace

VORLANT_BENCH_GROUP("pageturn-eval", benchPageTurnEval);
