#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QSizeF>
#include <QString>
#include <QVector>

struct JpegFrame;

// What the document says about itself.
struct PdfInfo {
    QString title;
    QString creator;
    QDateTime created;
};

// Writes a PDF file as pages are added: each page's objects go to the file at
// once, so memory holds the page at hand and a small table of 64-bit offsets,
// whatever the page count. The page tree, the document information and the
// cross-reference table follow in finish().
class PdfWriter {
public:
    // Names under which a page's content stream finds the text-layer fonts.
    static constexpr const char *kChineseFontName = "F1";
    static constexpr const char *kLatinFontName = "F2";

    // An A4 page, landscape for a picture wider than high.
    static QSizeF pageSize(QSize picture);

    // A cross-reference table entry holds a 10-digit offset; a file reaching
    // past it ends in a cross-reference stream (PDF 1.5) instead.
    static constexpr qint64 kLargestTableOffset = 9999999999LL;

    // `path` is created or emptied. `largestTableOffset` is lowered only to
    // try the cross-reference stream on small files.
    explicit PdfWriter(const QString &path, qint64 largestTableOffset = kLargestTableOffset);

    // A page showing the JPEG with its own bytes; `frame` must pass canStoreJpegAsIs().
    bool addJpegPage(const QByteArray &jpeg, const JpegFrame &frame, const QByteArray &textLayer);
    // A page showing decoded pixels, deflated: grey stays grey, transparency lies on white paper.
    bool addPicturePage(const QImage &picture, const QByteArray &textLayer);
    // Completes the file; false (see errorString()) when anything could not be written.
    bool finish(const PdfInfo &info);

    int pageCount() const { return m_pages.size(); }
    QString errorString() const { return m_error; }

private:
    int newObject();
    void beginObject(int number);
    void write(const QByteArray &bytes);
    void writeStreamObject(int number, const QByteArray &dictionary, const QByteArray &data);
    bool deflatePicture(const QImage &picture, bool grey);
    bool addPage(int image, QSize pictureSize, const QByteArray &textLayer);
    void writeFonts();
    void fail(const QString &error);

    QFile m_file;
    QString m_error;
    QVector<qint64> m_offsets; // by object number; object 0 is the free-list head
    QVector<int> m_pages;
    qint64 m_largestTableOffset;
    int m_pageTree = 0;
    int m_chineseFont = 0;
    int m_latinFont = 0;
};
