#pragma once

#include <opencv2/core.hpp>

#include <vector>

// One sheet of paper on the desk, as a rotated rectangle in frame pixels.
struct DeskSheet {
    cv::Point2f centre;
    cv::Size2f size;
    float angle = 0.0f; // degrees, as cv::RotatedRect takes it
};

// Draws a BGR frame of a darker, slightly noisy desk carrying the given white
// sheets with printed lines. The same seed gives the same pixels.
cv::Mat drawDeskScene(cv::Size frameSize, const std::vector<DeskSheet> &sheets, unsigned seed = 1);

// The scene the demo video and the benchmarks use: two upright sheets and one turned.
std::vector<DeskSheet> demoSheets(cv::Size frameSize);

// Desk surfaces drawn scenes lie on. Oak is honey-coloured wood, inside any
// skin colour range; the pattern is a pink-and-red checked cloth.
enum class DeskSurface { Dark, Oak, White, Black, Patterned };
struct DeskKind {
    const char *name;
    DeskSurface surface;
};
const std::vector<DeskKind> &deskKinds();
// The desk alone, with grain or pattern and noise; the same seed gives the same pixels.
cv::Mat drawDesk(cv::Size frameSize, DeskSurface surface, unsigned seed = 1);

// Skin tones of drawn hands (BGR), from very light to very dark.
struct SkinTone {
    const char *name;
    cv::Scalar bgr;
};
const std::vector<SkinTone> &skinTones();

// One moment of a book page under the camera, for drawn page-turn sequences.
struct BookView {
    int page = 0;              // the page lying open; each number prints different words
    double turned = 0.0;       // how far the next leaf has been turned over, 0 to 1
    cv::Point2f hand{-1, -1};  // centre of a hand in frame pixels; none when negative
    cv::Point2f shift{0, 0};   // where the book has been nudged, in frame pixels
    double light = 1.0;        // brightness factor of the whole scene
    cv::Scalar tint{1, 1, 1};  // and of each channel (BGR): a lamp's colour
    DeskSurface desk = DeskSurface::Dark;
    cv::Scalar skin{120, 160, 215};
    bool cover = false;        // a brown cover shows around the page
};

// Draws a book page on the desk. Left of the turning leaf's edge lies `page`,
// right of it `page + 1`; the lifted leaf, shaded, rises over the edge. The
// hand is shaded and casts a soft shadow. A non-zero `noiseSeed` adds sensor
// noise that differs from seed to seed.
cv::Mat drawBookView(cv::Size frameSize, const BookView &view, unsigned noiseSeed = 0);
