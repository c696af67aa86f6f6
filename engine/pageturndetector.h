#pragma once

#include <opencv2/core.hpp>

// Averages a frame down to `size` by whole blocks (the remainder of a
// non-integer ratio is cropped evenly), over at most `rowsPerBlock` evenly
// spaced rows of each block. Over all rows and at an integer ratio this is
// the library's area resampling, at a fraction of its time; it runs on every
// preview frame.
cv::Mat blockAverage(const cv::Mat &frame, cv::Size size, int rowsPerBlock);

// Watches the preview frames of a book under the camera and says when a new
// page has settled: the picture has been still for a while after some motion,
// no hand is in view, and it differs from the page photographed last. One
// decision per still period; nothing fires again until there has been motion.
// Plain class: the capture thread owns one and feeds it every frame.
class PageTurnDetector {
public:
    // Motion is judged on a small area-averaged grey picture: nearest-pixel
    // sampling turns a 1 px nudge of the book into a change.
    static constexpr int kMotionWidth = 160;
    static constexpr int kMotionHeight = 90;
    // A pixel has changed when it moved by more than this many grey levels...
    static constexpr int kLevelThreshold = 10;
    // ...and the picture moved when more than this share of pixels changed.
    static constexpr double kMotionShare = 0.003;
    // Frames in a row without motion (0.4 s at 30 frames per second).
    static constexpr int kStillFrames = 12;
    // "New page?" is judged at this size, after undoing a small global shift.
    static constexpr int kCheckWidth = 480;
    static constexpr int kCheckHeight = 270;
    static constexpr double kNewPageShare = 0.004;
    // A hand in view (this share of skin-coloured pixels that were not so in
    // the last settled view) postpones the decision.
    static constexpr double kSkinShare = 0.01;

    // Looks at one BGR frame; true when a new page has just settled in view.
    bool feed(const cv::Mat &frame);

    // Forgets the page last photographed: the next settled view becomes the
    // reference without a shot (the page in view when watching starts is the
    // user's to take).
    void reset();
    // Takes this BGR frame as the page photographed last.
    void setReference(const cv::Mat &frame);
    bool hasReference() const { return !m_reference.empty(); }

    // Share of pixels that differ from the page photographed last, after
    // undoing the shift between the two; 1.0 without a reference.
    double differenceFromReference(const cv::Mat &frame) const;
    // Share of pixels of a BGR picture that are skin-coloured and differ
    // from `settled` (the same size; a light change alone is no difference),
    // so that a wooden desk or a brown cover is never a hand. 0 without a
    // settled view.
    static double handShare(const cv::Mat &bgr, const cv::Mat &settled);
    // How many settled views were checked: compared with the last page, or
    // taken as the first one.
    int decisionCount() const { return m_decisions; }

private:
    cv::Mat m_anchor;    // the motion picture at the start of the current still run
    cv::Mat m_reference; // the check picture of the page photographed last
    cv::Mat m_settled;   // the colour motion picture of the last settled view, without a hand
    int m_stillCount = 0;
    bool m_decided = false;
    int m_decisions = 0;
};
