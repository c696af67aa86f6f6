#pragma once

#include "engine/ocrlines.h"
#include "engine/photonaming.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <utility>

struct DocumentOutcome {
    QString path;        // the document written; empty on failure
    QString error;       // a message for the user; empty on success
    QStringList leftOut; // sources that could not be decoded and are not in the document
    int pages = 0;
};

// Called after each source has been handled: (sources done, sources in all).
using PageProgress = std::function<void(int done, int total)>;

// Loads a photograph for the documents; a JPEG cut short (no end marker) counts
// as undecodable rather than as a picture greyed out from the break onwards.
QImage loadPhotograph(const QString &path);
// Both photographs of a merge, the second decoded on another thread meanwhile.
std::pair<QImage, QImage> loadPhotographPair(const QString &first, const QString &second);

// Two photographs on one canvas, unscaled: B beside A (top aligned) or below
// A (left aligned). The uncovered part is 0x00FFFFFF, white once alpha is dropped.
QImage mergeImages(const QImage &first, const QImage &second, bool sideBySide);

// Recognised text lines for each source, in the source's pixels; a source
// without an entry (or with no lines) gets no text.
using PdfTextLayers = QVector<QList<OcrLine>>;

// One A4 page per decodable source, oriented by the photograph, which fills the
// page. A JPEG source is embedded with its own bytes; other formats losslessly.
// Each page carries its text layer, invisible, over the photograph.
// The file goes to the first free candidate name; nothing is written when no
// source can be decoded.
DocumentOutcome writePdfAsNewFile(const QStringList &sources, const QString &directory, const NameCandidates &names,
                                  const PageProgress &progress = {}, const PdfTextLayers &textLayers = {});
// The same into exactly `outputPath`, which must not exist yet.
DocumentOutcome writePdfFile(const QStringList &sources, const QString &outputPath, const PageProgress &progress = {},
                             const PdfTextLayers &textLayers = {});

// One TIFF page per decodable source, as 8-bit BGR.
DocumentOutcome writeTiffAsNewFile(const QStringList &sources, const QString &directory, const NameCandidates &names,
                                   const PageProgress &progress = {});
DocumentOutcome writeTiffFile(const QStringList &sources, const QString &outputPath, const PageProgress &progress = {});

// "The following could not be read ..." with one file name a line; empty for none.
QString leftOutMessage(const QStringList &leftOut);
