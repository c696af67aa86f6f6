#include "documents/documentwriter.h"
#include "documents/jpegframe.h"
#include "documents/pdfwriter.h"
#include "scenes/hugepng.h"
#include "support/filesizelimit.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <stdexcept>
#include <tiffio.h>

namespace {

const QSize kHuge(30000, 30000);

QByteArray runTool(const QString &tool, const QStringList &arguments, int *exitCode = nullptr)
{
    QProcess process;
    process.start(tool, arguments);
    process.waitForFinished(120000);
    if (exitCode)
        *exitCode = process.exitCode();
    return process.readAllStandardOutput();
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Noise, so that a JPEG is as large as a camera's at its best quality.
QString noisyPhotograph(const QString &path, cv::Size size, std::vector<int> parameters = {})
{
    cv::Mat picture(size, CV_8UC3);
    cv::randu(picture, 0, 255);
    cv::imwrite(path.toStdString(), picture, parameters);
    return path;
}

QString smoothPng(const QString &path, QSize size)
{
    QImage picture(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            picture.setPixel(x, y, qRgb(x % 256, y % 256, (x + y) % 256));
    picture.save(path);
    return path;
}

// A four-component JPEG as print shops write them; `adobe` keeps the marker that says how its inks are stored.
QByteArray cmykJpeg(bool adobe)
{
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = 64;
    info.image_height = 48;
    info.input_components = 4;
    info.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&info);
    info.write_Adobe_marker = adobe;
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row(64 * 4, 100);
    while (info.next_scanline < info.image_height) {
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    const QByteArray bytes(reinterpret_cast<const char *>(buffer), int(size));
    std::free(buffer);
    return bytes;
}

// A camera JPEG with its frame header changed: precision, height, marker.
QByteArray patchedFrame(const QString &scratch, int precision, int height)
{
    QByteArray bytes = fileBytes(noisyPhotograph(scratch, {64, 48}));
    const int frame = bytes.indexOf("\xff\xc0");
    bytes[frame + 1] = char(0xc1);
    bytes[frame + 4] = char(precision);
    bytes[frame + 5] = char(height >> 8);
    bytes[frame + 6] = char(height & 0xff);
    return bytes;
}

// The encoding of each picture in the PDF, "jpeg" for bytes stored as they are.
QStringList imageEncodings(const QString &pdf)
{
    QStringList encodings;
    const QList<QByteArray> lines = runTool("pdfimages", {"-list", pdf}).split('\n');
    for (const QByteArray &line : lines.mid(2))
        if (!line.trimmed().isEmpty())
            encodings << QString::fromLatin1(line.simplified().split(' ').value(8));
    return encodings;
}

bool pdfChecks(const QString &pdf)
{
    int exitCode = -1;
    runTool("qpdf", {"--check", pdf}, &exitCode);
    return exitCode == 0;
}

qint64 statusKb(const char *field)
{
    const QList<QByteArray> lines = fileBytes("/proc/self/status").split('\n');
    for (const QByteArray &line : lines)
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).simplified().split(' ').value(0).toLongLong();
    return -1;
}

QString tiffTag(const QString &path, uint32_t tag)
{
    TIFF *tiff = TIFFOpen(QFile::encodeName(path).constData(), "r");
    char *value = nullptr;
    const bool found = tiff && TIFFGetField(tiff, tag, &value) == 1;
    const QString text = found ? QString::fromUtf8(value) : QString();
    if (tiff)
        TIFFClose(tiff);
    return text;
}

} // namespace

class TestDocumentWriter : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void sourcesStoredConvertedOrLeftOut_data();
    void sourcesStoredConvertedOrLeftOut();
    void oddRecognisedLinesKeepTheDocument_data();
    void oddRecognisedLinesKeepTheDocument();
    void memoryHoldsAboutOnePage_data();
    void memoryHoldsAboutOnePage();
    void failuresLeaveNoFile_data();
    void failuresLeaveNoFile();
    void documentsSayWhoMadeThem();
    void offsetsPastTenDigitsStillRead();
};

// Beside a plain photograph, one source of each kind: stored with its own
// bytes ("jpeg"), decoded and stored losslessly ("image"), or left out for a reason.
void TestDocumentWriter::sourcesStoredConvertedOrLeftOut_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("expected");
    QTest::newRow("progressive jpeg") << "pdf" << "progressive" << "jpeg";
    QTest::newRow("cmyk jpeg marked by adobe") << "pdf" << "cmyk adobe" << "jpeg";
    QTest::newRow("cmyk jpeg without the marker") << "pdf" << "cmyk" << "image";
    QTest::newRow("12-bit jpeg") << "pdf" << "12-bit" << "left out: 12 位";
    QTest::newRow("jpeg of height 0 (dnl)") << "pdf" << "dnl" << "left out: 高度";
    QTest::newRow("30000x30000 png in a pdf") << "pdf" << "huge" << "left out: 图像太大";
    QTest::newRow("30000x30000 png in a tiff") << "tiff" << "huge" << "left out: 图像太大";
}

void TestDocumentWriter::sourcesStoredConvertedOrLeftOut()
{
    QFETCH(QString, kind);
    QFETCH(QString, source);
    QFETCH(QString, expected);
    const QString plain = noisyPhotograph(m_dir.filePath("plain.jpg"), {64, 48});
    const QString path = m_dir.filePath(source + (source == "huge" ? ".png" : ".jpg"));
    if (source == "progressive") {
        QVERIFY(!noisyPhotograph(path, {64, 48}, {cv::IMWRITE_JPEG_PROGRESSIVE, 1}).isEmpty());
        QVERIFY(fileBytes(path).contains("\xff\xc2"));
    } else if (source.startsWith("cmyk")) {
        writeBytes(path, cmykJpeg(source.endsWith("adobe")));
    } else if (source == "12-bit" || source == "dnl") {
        writeBytes(path, patchedFrame(path, source == "dnl" ? 8 : 12, source == "dnl" ? 0 : 48));
    } else {
        QVERIFY(writeHugePng(path, kHuge));
        QVERIFY(loadThumbnail(path, {160, 160}, Qt::KeepAspectRatio).isNull());
    }

    const QString output = m_dir.filePath(source + '.' + kind);
    QFile::remove(output);
    const DocumentOutcome outcome =
        kind == "pdf" ? writePdfFile({plain, path}, output) : writeTiffFile({plain, path}, output);
    QVERIFY2(outcome.error.isEmpty(), qPrintable(outcome.error));
    if (expected.startsWith("left out: ")) {
        QCOMPARE(outcome.pages, 1);
        QCOMPARE(outcome.leftOut.size(), 1);
        QCOMPARE(outcome.leftOut[0].path, path);
        QVERIFY2(outcome.leftOut[0].reason.contains(expected.mid(10)), qPrintable(outcome.leftOut[0].reason));
    } else {
        QCOMPARE(outcome.pages, 2);
        QCOMPARE(imageEncodings(output), (QStringList{"jpeg", expected}));
    }
    if (kind == "pdf")
        QVERIFY(pdfChecks(output));
}

// Recognised lines no page could hold: the document is still written, and
// the page's ordinary line is still found.
void TestDocumentWriter::oddRecognisedLinesKeepTheDocument_data()
{
    QTest::addColumn<QRect>("box");
    QTest::addColumn<QString>("text");
    QTest::newRow("line far taller than the page") << QRect(0, -2000, 300, 9000) << "tall";
    QTest::newRow("latin run over 65535 bytes") << QRect(0, 100, 400, 20) << QString(70000, 'a');
    QTest::newRow("chinese run over 65535 bytes") << QRect(0, 100, 400, 20) << QString(40000, QChar(0x4e2d));
}

void TestDocumentWriter::oddRecognisedLinesKeepTheDocument()
{
    QFETCH(QRect, box);
    QFETCH(QString, text);
    const QString photograph = noisyPhotograph(m_dir.filePath("page.jpg"), {400, 300});
    const QString output = m_dir.filePath("odd.pdf");
    QFile::remove(output);
    const PdfTextLayers layers{{{box, text}, {QRect(10, 10, 200, 20), QStringLiteral("ordinary words")}}};
    const DocumentOutcome outcome = writePdfFile({photograph}, output, {}, layers);
    QVERIFY2(outcome.error.isEmpty(), qPrintable(outcome.error));
    QVERIFY(pdfChecks(output));
    QVERIFY(runTool("pdftotext", {output, "-"}).contains("ordinary words"));
}

// Peak memory while writing grows by about a page, not by the document.
void TestDocumentWriter::memoryHoldsAboutOnePage_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("pages");
    QTest::newRow("jpeg pages stored as they are") << "jpg" << 60;
    QTest::newRow("lossless pages") << "png" << 12;
}

void TestDocumentWriter::memoryHoldsAboutOnePage()
{
    QFETCH(QString, source);
    QFETCH(int, pages);
    constexpr qint64 kMostGrowthKb = 80 * 1024;
    const QString path = m_dir.filePath("big." + source);
    if (source == "jpg")
        noisyPhotograph(path, {2000, 1500}, {cv::IMWRITE_JPEG_QUALITY, 95});
    else
        smoothPng(path, {3000, 2000});
    const QStringList sources = QVector<QString>(pages, path).toList();
    const QString output = m_dir.filePath("big.pdf");
    QFile::remove(output);

    QFile reset("/proc/self/clear_refs");
    QVERIFY(reset.open(QIODevice::WriteOnly));
    reset.write("5"); // the peak starts again from what is in use now
    reset.close();
    const qint64 before = statusKb("VmRSS:");
    const DocumentOutcome outcome = writePdfFile(sources, output);
    const qint64 growth = statusKb("VmHWM:") - before;
    QVERIFY2(outcome.error.isEmpty(), qPrintable(outcome.error));
    // Read back by poppler: qpdf's full check takes half a minute at this size.
    QVERIFY(runTool("pdfinfo", {output}).contains(QByteArray("Pages:           ") + QByteArray::number(pages) + '\n'));
#if !defined(VORLANT_TSAN_BUILD) && !defined(__SANITIZE_ADDRESS__)
    // Sanitizer builds count their shadow memory and quarantine in the resident size.
    QVERIFY2(growth < kMostGrowthKb, qPrintable(QStringLiteral("grew by %1 KB").arg(growth)));
#else
    Q_UNUSED(growth);
    Q_UNUSED(kMostGrowthKb);
#endif
    QFile::remove(output);
}

// A write that fails part-way, by a full disk or by anything thrown on the
// writer's thread, says so and leaves neither the document nor its temporary file.
void TestDocumentWriter::failuresLeaveNoFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("failure");
    QTest::newRow("pdf, disk full") << "pdf" << "disk full";
    QTest::newRow("tiff, disk full") << "tiff" << "disk full";
    QTest::newRow("pdf, thrown mid-way") << "pdf" << "throw";
    QTest::newRow("tiff, thrown mid-way") << "tiff" << "throw";
}

void TestDocumentWriter::failuresLeaveNoFile()
{
    QFETCH(QString, kind);
    QFETCH(QString, failure);
    const QString photograph = noisyPhotograph(m_dir.filePath("source.jpg"), {800, 600});
    QTemporaryDir out;
    const QStringList sources = QVector<QString>(6, photograph).toList();
    const PageProgress progress = [&](int done, int) {
        if (failure == "throw" && done == 3)
            throw std::runtime_error("broken");
    };
    DocumentOutcome outcome;
    {
        FileSizeLimit limit(failure == "disk full" ? 2 * QFileInfo(photograph).size() : RLIM_INFINITY);
        const QString name = out.filePath("doc." + kind);
        const NameCandidates names = [&](int attempt) { return attempt == 1 ? name : QString(); };
        outcome = kind == "pdf" ? writePdfAsNewFile(sources, out.path(), names, progress)
                                : writeTiffAsNewFile(sources, out.path(), names, progress);
    }
    QVERIFY(!outcome.error.isEmpty());
    QVERIFY(outcome.path.isEmpty());
    QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void TestDocumentWriter::documentsSayWhoMadeThem()
{
    const QString photograph = noisyPhotograph(m_dir.filePath("meta.jpg"), {64, 48});
    const QString pdf = m_dir.filePath("IMG_7.pdf");
    QVERIFY(writePdfFile({photograph}, pdf).error.isEmpty());
    const QString info = QString::fromUtf8(runTool("pdfinfo", {"-isodates", pdf}));
    QVERIFY2(info.contains(QRegularExpression("Title: +IMG_7.pdf\n")), qPrintable(info));
    QVERIFY2(info.contains(QRegularExpression("Creator: +vorlant " VORLANT_VERSION "\n")), qPrintable(info));
    QVERIFY2(info.contains(QRegularExpression("CreationDate: +" + QDate::currentDate().toString(Qt::ISODate))),
             qPrintable(info));

    const QString tiff = m_dir.filePath("IMG_8.tiff");
    QVERIFY(writeTiffFile({photograph}, tiff).error.isEmpty());
    QCOMPARE(tiffTag(tiff, TIFFTAG_SOFTWARE), QStringLiteral("vorlant " VORLANT_VERSION));
    QVERIFY2(tiffTag(tiff, TIFFTAG_DATETIME).startsWith(QDate::currentDate().toString("yyyy:MM:dd")),
             qPrintable(tiffTag(tiff, TIFFTAG_DATETIME)));
}

// A file past the 10 digits of a cross-reference table (10 GB) ends in a
// cross-reference stream; tried here by lowering where that happens.
void TestDocumentWriter::offsetsPastTenDigitsStillRead()
{
    const QByteArray jpeg = fileBytes(noisyPhotograph(m_dir.filePath("stream.jpg"), {64, 48}));
    const QString pdf = m_dir.filePath("stream.pdf");
    PdfWriter writer(pdf, 0);
    for (int page = 0; page < 3; ++page)
        QVERIFY(writer.addJpegPage(jpeg, readJpegFrame(jpeg), {}));
    QVERIFY(writer.finish({QStringLiteral("stream.pdf"), documentCreator(), QDateTime::currentDateTime()}));
    QVERIFY(fileBytes(pdf).contains("/Type /XRef"));
    QVERIFY(pdfChecks(pdf));
    QCOMPARE(imageEncodings(pdf), (QStringList{"jpeg", "jpeg", "jpeg"}));
}

QTEST_MAIN(TestDocumentWriter)
#include "test_documentwriter.moc"
