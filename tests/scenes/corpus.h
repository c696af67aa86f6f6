#pragma once

#include "scenes/deskscene.h"

#include <QStringList>

#include <vector>

// Printed pages in the CJK faces Debian ships, photographed on desks.

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

// How a page was captured: as a scanner gives it, photographed, photographed in 黑白.
enum class Capture { Clean, Photo, Bw };

// The page as the program stores it: photographed lying on a desk, turned a
// little, in uneven light with a soft shadow across it, slightly out of
// focus, with sensor noise and JPEG's losses, then cut out by the program's
// own cut-out (after its 黑白 treatment for Capture::Bw); the page itself
// for Capture::Clean.
cv::Mat capturedPage(const cv::Mat &page, Capture capture, DeskSurface desk, unsigned seed);
