#pragma once

#include "engine/ocrlines.h"

#include <QByteArray>
#include <QRectF>
#include <QSize>
#include <QString>

#include <hpdf.h>

// Widths of text in the text layer's fonts, in thousandths of the font size:
// Chinese in a CID font that readers supply themselves, every two-byte code
// full width; ASCII in Helvetica (widths from the PDF library's metrics),
// since readers take ASCII drawn in the CJK font for full-width letters.
class TextLayerMetrics {
public:
    TextLayerMetrics();
    ~TextLayerMetrics();
    TextLayerMetrics(const TextLayerMetrics &) = delete;
    TextLayerMetrics &operator=(const TextLayerMetrics &) = delete;

    // Negative when the width cannot be told.
    double latinWidth(const QByteArray &text) const;

private:
    HPDF_Doc m_doc = nullptr;
    HPDF_Font m_latin = nullptr;
    HPDF_STATUS m_error = HPDF_OK;
    static void recordError(HPDF_STATUS code, HPDF_STATUS detail, void *data);
};

// Content-stream operators that write each line as one invisible run over its
// place in the picture, the picture filling a page of `page` points. The
// fonts are named as PdfWriter names them. A line's box is cut to the
// picture, a run to the longest string readers take, and each run is
// stretched to its line's width. Characters the Chinese encoding lacks are
// left out. False (with `error` set) when the layer cannot be made.
bool invisibleTextOperators(const TextLayerMetrics &metrics, const QList<OcrLine> &lines, QSize pictureSize,
                            QSizeF page, QByteArray *operators, QString *error);

// The bytes of `text` in the Chinese font's encoding, leaving out what it cannot encode.
QByteArray chineseFontBytes(const QString &text);
