#include "documents/jpegframe.h"

#include <cstring>

namespace {

constexpr uchar kStartOfScan = 0xDA;
constexpr uchar kEndOfImage = 0xD9;
constexpr uchar kAdobe = 0xEE;
// Huffman-coded frames: baseline, extended sequential, progressive.
constexpr uchar kBaseline = 0xC0;
constexpr uchar kExtended = 0xC1;
constexpr uchar kProgressive = 0xC2;

// Start-of-frame markers are C0 to CF, apart from DHT (C4), JPG (C8) and DAC (CC).
bool isStartOfFrame(uchar marker)
{
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

} // namespace

bool isJpeg(const QByteArray &bytes)
{
    return bytes.size() >= 2 && uchar(bytes[0]) == 0xFF && uchar(bytes[1]) == 0xD8;
}

// Walks the marker segments to the first scan and looks for the end marker
// after it; inside entropy-coded data 0xFF is always stuffed, so 0xFF 0xD9
// there can only be the end. A file cut short while being written has none.
JpegFrame readJpegFrame(const QByteArray &bytes)
{
    JpegFrame frame;
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    const qsizetype size = bytes.size();
    if (!isJpeg(bytes))
        return frame;
    qsizetype pos = 2;
    while (pos + 4 <= size) {
        if (data[pos] != 0xFF)
            return frame;
        const uchar marker = data[pos + 1];
        if (marker == 0xFF) {
            ++pos;
            continue;
        }
        if (marker == kEndOfImage)
            return frame;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            pos += 2;
            continue;
        }
        const int length = (data[pos + 2] << 8) | data[pos + 3];
        if (length < 2 || pos + 2 + length > size)
            return frame;
        const uchar *segment = data + pos + 4;
        if (isStartOfFrame(marker) && frame.marker == 0 && length >= 8) {
            frame.marker = marker;
            frame.precision = segment[0];
            frame.height = (segment[1] << 8) | segment[2];
            frame.width = (segment[3] << 8) | segment[4];
            frame.components = segment[5];
        } else if (marker == kAdobe && length >= 7 && std::memcmp(segment, "Adobe", 5) == 0) {
            frame.adobe = true;
        } else if (marker == kStartOfScan) {
            const qsizetype scan = pos + 2 + length;
            static const uchar kEnd[] = {0xFF, kEndOfImage};
            frame.complete = scan < size && memmem(data + scan, size_t(size - scan), kEnd, sizeof kEnd) != nullptr;
            return frame;
        }
        pos += 2 + length;
    }
    return frame;
}

bool canStoreJpegAsIs(const JpegFrame &frame)
{
    const bool huffman = frame.marker == kBaseline || frame.marker == kExtended || frame.marker == kProgressive;
    const bool colours = frame.components == 1 || frame.components == 3 || (frame.components == 4 && frame.adobe);
    return frame.complete && huffman && frame.precision == 8 && colours && frame.width > 0 && frame.height > 0;
}
