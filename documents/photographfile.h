#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

// The most pixels a photograph may have to be decoded whole: 2^27, about
// 134 megapixels or 512 MiB at four bytes a pixel. A larger file (or a hostile
// header claiming a larger size) is left out before any memory is taken.
constexpr qint64 kMaxDecodedPixels = qint64(1) << 27;

// A decoded photograph, or the reason (for the user) it could not be.
struct DecodedPhotograph {
    QImage picture;
    QString problem;
};

QByteArray readWholeFile(const QString &path);

// The size the file's header gives (Qt's readers, TIFF parsed here), read
// without decoding; invalid when the format does not tell it that way.
QSize encodedPictureSize(const QByteArray &bytes);

// Empty when `size` may be decoded, else the reason for the user.
QString pixelLimitProblem(QSize size);

// Decodes a photograph held in memory. A JPEG cut short (no end marker)
// counts as undecodable rather than as a picture greyed out from the break.
DecodedPhotograph decodePhotograph(const QByteArray &bytes);
DecodedPhotograph loadPhotograph(const QString &path);

// Rows [top, top + count) of the picture as 8-bit grey or RGB, laid on white
// paper where it is transparent: documents convert a band at a time.
QImage opaqueBand(const QImage &picture, int top, int count, bool grey);

// A picture of `box` (or within it, keeping the aspect ratio) for a
// thumbnail: a JPEG is decoded at reduced scale; a file too large to decode
// gives a null picture.
QImage loadThumbnail(const QString &path, QSize box, Qt::AspectRatioMode mode);
