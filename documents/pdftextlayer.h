#pragma once

#include "engine/ocrlines.h"

#include <QRectF>
#include <QSize>

#include <hpdf.h>

// Fonts of an invisible text layer: Chinese in a CID font that readers supply
// themselves (nothing is embedded), ASCII in a base-14 font, since readers
// take ASCII drawn in the CJK font for full-width letters.
struct TextLayerFonts {
    HPDF_Font chinese = nullptr;
    HPDF_Font latin = nullptr;
};

// Registers the fonts with the document.
TextLayerFonts textLayerFonts(HPDF_Doc pdf);

// Writes each line as one invisible run over its place in the picture, the
// picture being drawn into `target` on the page from `pictureSize` pixels.
// `target` is in PDF units, which count upwards: its y is the lower edge. Each run is stretched to its line's
// width as far as the library allows. Characters the Chinese encoding lacks
// are left out.
void addInvisibleText(HPDF_Page page, const TextLayerFonts &fonts, const QList<OcrLine> &lines, QSize pictureSize,
                      const QRectF &target);

// The bytes of `text` in the Chinese font's encoding, leaving out what it cannot encode.
QByteArray chineseFontBytes(const QString &text);
