#pragma once

#include "scenes/deskscene.h"

#include <vector>

// Drawn page-turn sequences at 30 frames per second, built step by step: a
// book on a desk, hands of a given skin tone turning its leaves.
class PageTurnScript {
public:
    // Every view of the sequence takes its desk, skin, cover and light from `look`.
    explicit PageTurnScript(cv::Size frameSize, BookView look = {}) : m_size(frameSize), m_look(look) {}

    // The page lying still; `view` changes light or position for these frames.
    PageTurnScript &still(int frames);
    PageTurnScript &with(BookView view, int frames);
    // A hand comes in from the right, turns the leaf, and leaves to the left.
    // `pauseFrames` holds hand and leaf still halfway through.
    PageTurnScript &turn(int enter, int sweep, int leave, int pauseFrames = 0);
    // A hand comes in, lies on the page for `frames` frames, and goes.
    PageTurnScript &handRests(int frames);

    const std::vector<BookView> &views() const { return m_views; }
    // The pages a watcher should photograph: each page turned to, once.
    int turns() const { return m_page; }

private:
    void add(double turned, cv::Point2f hand);

    cv::Size m_size;
    BookView m_look;
    std::vector<BookView> m_views;
    int m_page = 0;
};

// Whether two views draw the same picture (noise apart).
bool sameView(const BookView &a, const BookView &b);
