#pragma once

#include "scenes/deskscene.h"

#include <QString>
#include <QStringList>

#include <opencv2/core.hpp>

#include <vector>

// Printed pages laid out from classical prose in the CJK faces Debian ships,
// and photographed on desks the way a document camera sees them.

// A typeface: a short name for bench lines and the family Qt knows it by.
struct CorpusFace {
    const char *name;
    const char *family;
};
// Song/Ming (two), Kai and Hei (two).
const std::vector<CorpusFace> &corpusFaces();

// Paragraphs of classical Chinese prose, with a few Latin words and digits.
QStringList corpusParagraphs();

// A page and the text printed on it, line by line as laid out.
struct CorpusPage {
    cv::Mat picture; // BGR, black text on white
    QStringList lines;
};

// Lays `paragraphs` out on an A4 page at `dpi`, in `points`-sized type with
// ragged paragraph ends, as many lines as fit.
CorpusPage layOutPage(const CorpusFace &face, const QStringList &paragraphs, int dpi = 300, double points = 12.0);

// How a page was captured.
enum class Capture {
    Clean, // the page itself, as a scanner gives it
    Photo, // photographed on the desk and cut out
    Bw     // photographed, turned black and white, cut out
};

// Photographs `page` lying on a desk, turned a little and slightly keystoned,
// in uneven light with a soft shadow across it, slightly out of focus, with
// sensor noise and JPEG's losses. The page's corners in the photograph go to
// `corners` (top left, top right, bottom right, bottom left) when given.
cv::Mat photographPage(const cv::Mat &page, cv::Size frameSize, DeskSurface desk, unsigned seed,
                       std::vector<cv::Point2f> *corners = nullptr);

// The page as the program stores it: the photograph cut out along the
// page's edges (as the program's own cut-out does) after the 黑白 treatment
// for Capture::Bw; the page itself for Capture::Clean.
cv::Mat capturedPage(const cv::Mat &page, Capture capture, DeskSurface desk, unsigned seed);
