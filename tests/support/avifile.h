#pragma once

#include <QString>

// An AVI file as its own chunks describe it, read without libavformat.
struct AviLayout {
    // The RIFF size was filled in when the file was closed.
    bool closed = false;
    // Entries of the closing index (idx1); 0 without one.
    int indexEntries = 0;
    // Frames a player decodes, read one by one.
    int playedFrames = 0;
    // Mean brightness of the last frame played.
    double lastBrightness = -1;
};

AviLayout readAviLayout(const QString &path);
