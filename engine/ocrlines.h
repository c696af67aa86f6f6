#pragma once

#include <QByteArray>
#include <QList>
#include <QRect>
#include <QString>

#include <vector>

// One line of recognised text and where it lies, in pixels of the page picture.
struct OcrLine {
    QRect box;
    QString text;
};

// What the OCR worker found on one page; `error` is set when it failed.
struct OcrPage {
    bool ok = false;
    QString error;
    QList<OcrLine> lines;
};

// The worker's output: one line per text line, "x y width height<TAB>text", UTF-8.
QByteArray formatOcrLines(const QList<OcrLine> &lines);
// Reads the worker's output; false on a malformed line (a worker that died mid-write).
bool parseOcrLines(const QByteArray &data, QList<OcrLine> *lines);

// Drops the spaces a recogniser puts next to Chinese characters, keeping
// those between words of Latin script.
QString tidyRecognisedSpacing(const QString &text);

// The fewest edits (insertions, deletions, substitutions) that turn all of
// `a` into each start of `b`: element j is for b's first j characters, the
// last one for the whole of `b`.
std::vector<int> editsToEachStart(const QString &a, const QString &b);
