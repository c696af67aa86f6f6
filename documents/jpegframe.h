#pragma once

#include <QByteArray>

// What the header of a JPEG file says about its picture, read from the marker
// segments without decoding anything.
struct JpegFrame {
    bool complete = false; // the scan is followed by the end marker
    int marker = 0;        // the start-of-frame marker (0xC0 ... 0xCF), 0 when none was found
    int precision = 0;     // bits per sample
    int width = 0;
    int height = 0; // 0: given later by a DNL segment
    int components = 0;
    bool adobe = false; // an Adobe APP14 segment precedes the frame
};

bool isJpeg(const QByteArray &bytes);
JpegFrame readJpegFrame(const QByteArray &bytes);

// Whether a PDF reader can show the bytes as they are (DCTDecode): 8-bit
// Huffman-coded baseline, extended or progressive frames of grey, colour,
// or CMYK marked by Adobe, of a size known from the frame itself.
bool canStoreJpegAsIs(const JpegFrame &frame);
