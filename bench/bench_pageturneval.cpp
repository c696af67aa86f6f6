#include "bench.h"

#include "engine/pageturndetector.h"
#include "scenes/deskscene.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const cv::Size kFrameSize(960, 540);

// Three turns (normal, then with the hand resting on the new page, then
// quick with a pause halfway), then light stepping up and a nudge of the
// book: one shot per turn and no other.
std::vector<BookView> evalSequence(const BookView &look)
{
    std::vector<BookView> views;
    BookView v = look;
    const auto hold = [&](int frames) { views.insert(views.end(), frames, v); };
    const float w = kFrameSize.width, handY = kFrameSize.height * 0.6f;
    const auto turn = [&](int sweep, int pause, int rest) {
        for (int i = 1; i < sweep; ++i) {
            v.turned = static_cast<double>(i) / sweep;
            v.hand = {static_cast<float>(w * (0.75 - 0.45 * v.turned)), handY};
            hold(2 * i == sweep ? 1 + pause : 1);
        }
        ++v.page;
        v.turned = 0.0;
        v.hand = {w * 0.5f, kFrameSize.height * 0.7f};
        hold(rest);
        for (int i = 1; i <= 5; ++i) {
            v.hand.x += w * 0.12f;
            hold(1);
        }
        v.hand = {-1, -1};
        hold(20);
    };
    hold(20);
    turn(10, 0, 0);
    turn(8, 0, 45);
    turn(5, 12, 0);
    v.light = 1.15;
    hold(30);
    v.shift = {2, 1};
    hold(30);
    return views;
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
