#pragma once

#include "documents/photographfile.h"
#include "engine/ocrlines.h"
#include "engine/photonaming.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <utility>

// A collected photograph that did not go into a document whole, and why.
struct SourceProblem {
    int index = 0; // its place among the sources, from 0
    QString path;
    QString reason;
};

struct DocumentOutcome {
    QString path;                     // the document written; empty on failure
    QString error;                    // a message for the user; empty on success
    QList<SourceProblem> leftOut;     // sources not in the document
    QList<SourceProblem> withoutText; // pages written without their text layer
    int pages = 0;
};

// Called after each source has been handled: (sources done, sources in all).
using PageProgress = std::function<void(int done, int total)>;

// Both photographs of a merge, the second decoded on another thread meanwhile.
std::pair<DecodedPhotograph, DecodedPhotograph> loadPhotographPair(const QString &first, const QString &second);

// Two photographs on one canvas, unscaled: B beside A (top aligned) or below
// A (left aligned). The uncovered part is 0x00FFFFFF, white once alpha is
// dropped. Null when the canvas would be over the pixel limit.
QImage mergeImages(const QImage &first, const QImage &second, bool sideBySide);

// Recognised text lines for each source, in the source's pixels; a source
// without an entry (or with no lines) gets no text.
using PdfTextLayers = QVector<QList<OcrLine>>;

// One A4 page per decodable source, oriented by the photograph, which fills the
// page. A JPEG a reader can show as it is keeps its own bytes; other pictures
// go in losslessly. Each page carries its text layer, invisible, over the
// photograph. Pages go to a temporary file as they are made, and the file to
// the first free candidate name once complete; nothing is written when no
// source can be decoded. `title` names the document in its information.
DocumentOutcome writePdfAsNewFile(const QStringList &sources, const QString &directory, const NameCandidates &names,
                                  const PageProgress &progress = {}, const PdfTextLayers &textLayers = {},
                                  const QString &title = {});
// The same into exactly `outputPath`, which must not exist yet, titled by its file name.
DocumentOutcome writePdfFile(const QStringList &sources, const QString &outputPath, const PageProgress &progress = {},
                             const PdfTextLayers &textLayers = {});

// One TIFF page per decodable source, as 8-bit RGB, written page by page.
DocumentOutcome writeTiffAsNewFile(const QStringList &sources, const QString &directory, const NameCandidates &names,
                                   const PageProgress &progress = {});
DocumentOutcome writeTiffFile(const QStringList &sources, const QString &outputPath, const PageProgress &progress = {});

// "The following were not written ..." with one file and its reason a line; empty for none.
QString leftOutMessage(const QList<SourceProblem> &leftOut);

// What documents say made them: "vorlant <version>".
QString documentCreator();
