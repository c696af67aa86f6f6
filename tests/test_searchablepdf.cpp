#include "app/cache.h"
#include "app/config.h"
#include "scenes/corpus.h"
#include "scenes/printedsheet.h"
#include "engine/detection.h"
#include "engine/ocrqueue.h"
#include "engine/photo.h"
#include "documents/documentwriter.h"
#include "output/imagesavepdfortiffdialog.h"
#include "support/messageboxes.h"
#include "support/workingdir.h"

#include <QCheckBox>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <optional>

Q_DECLARE_METATYPE(std::optional<bool>)

namespace {

constexpr int kOcrTimeoutMs = 120000;
// Corpus pages are laid out coarsely: they are photographed at about 190 dpi anyway.
constexpr int kFacePageDpi = 150;

QByteArray runTool(const QString &tool, const QStringList &arguments)
{
    QProcess process;
    process.start(tool, arguments);
    process.waitForFinished(60000);
    return process.readAllStandardOutput();
}

QString pageText(const QString &pdf, int page)
{
    const QString n = QString::number(page);
    return QString::fromUtf8(runTool("pdftotext", {"-f", n, "-l", n, pdf, "-"}));
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct PdfWord {
    QRectF box; // in points, from the top left as pdftotext gives it
    QString text;
};

QList<PdfWord> wordsOnPage(const QString &pdf, int page)
{
    const QString n = QString::number(page);
    const QString xhtml = QString::fromUtf8(runTool("pdftotext", {"-bbox", "-f", n, "-l", n, pdf, "-"}));
    static const QRegularExpression word(
        R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re");
    QList<PdfWord> words;
    for (auto it = word.globalMatch(xhtml); it.hasNext();) {
        const auto m = it.next();
        words.append({QRectF(QPointF(m.captured(1).toDouble(), m.captured(2).toDouble()),
                             QPointF(m.captured(3).toDouble(), m.captured(4).toDouble())),
                      m.captured(5)});
    }
    return words;
}

// A drawn page photographed on the desk and cut out, as a JPEG.
QString drawnPage(const QString &path, const QStringList &lines)
{
    const cv::Mat photo = drawPrintedSheet(cv::Size(3264, 2448), lines, 2.0f);
    cv::imwrite(path.toStdString(), extractDocument(photo, detectDocuments(photo).best));
    return path;
}

} // namespace

class TestSearchablePdf : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QStringList m_sources;
    PdfTextLayers m_layers;
    QString m_pdf;
    QString m_facesPdf;

private slots:
    void initTestCase();
    void switchesReachTheFileOnlyOnceChanged_data();
    void switchesReachTheFileOnlyOnceChanged();
    void phrasesFoundOnTheirPages_data();
    void phrasesFoundOnTheirPages();
    void phrasesFoundInEveryFace_data();
    void phrasesFoundInEveryFace();
    void photographsKeepTheirBytes();
    void textLiesOverItsLine();
    void dialogWithSwitchesOffWritesThePlainDocument();
    void failedPageIsWrittenWithoutTextAndReported();
    void pageTurnsWatchedOnlyWhileShownAndOn();
};

// Two drawn pages read by the workers and written with their text, once for
// the read-back tests.
void TestSearchablePdf::initTestCase()
{
    const QStringList lines = sampleTextLines();
    m_sources << drawnPage(m_dir.filePath("IMG_1.jpg"), lines.mid(0, 5))
              << drawnPage(m_dir.filePath("IMG_2.jpg"), lines.mid(5));
    OcrQueue queue;
    queue.start(m_sources);
    queue.waitForFinished();
    for (int i = 0; i < m_sources.size(); ++i) {
        QVERIFY2(queue.page(i).ok, qPrintable(queue.page(i).error));
        m_layers.append(queue.page(i).lines);
    }
    const DocumentOutcome outcome = writePdfFile(m_sources, m_dir.filePath("book.pdf"), {}, m_layers);
    QVERIFY2(outcome.error.isEmpty(), qPrintable(outcome.error));
    m_pdf = outcome.path;

    // A paragraph of classical prose in each face, photographed on each desk.
    QStringList faces;
    for (unsigned f = 0; f < corpusFaces().size(); ++f) {
        const CorpusPage page = layOutPage(corpusFaces()[f], {corpusParagraphs()[f]}, kFacePageDpi);
        faces << m_dir.filePath(QStringLiteral("face_%1.jpg").arg(f + 1));
        const cv::Mat photo = capturedPage(page.picture, Capture::Photo, deskKinds()[f].surface, f + 1);
        QVERIFY(cv::imwrite(faces.last().toStdString(), photo));
    }
    queue.start(faces);
    queue.waitForFinished();
    PdfTextLayers faceLayers;
    for (int i = 0; i < faces.size(); ++i) {
        QVERIFY2(queue.page(i).ok, qPrintable(queue.page(i).error));
        faceLayers.append(queue.page(i).lines);
    }
    const DocumentOutcome facesOutcome = writePdfFile(faces, m_dir.filePath("faces.pdf"), {}, faceLayers);
    QVERIFY2(facesOutcome.error.isEmpty(), qPrintable(facesOutcome.error));
    m_facesPdf = facesOutcome.path;
}

void TestSearchablePdf::phrasesFoundInEveryFace_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("phrase");
    QTest::newRow("Ming") << 1 << QStringLiteral("武陵人捕鱼");
    QTest::newRow("Song") << 2 << QStringLiteral("鸡犬相闻");
    QTest::newRow("Kai") << 3 << QStringLiteral("政通人和");
    QTest::newRow("Hei") << 4 << QStringLiteral("气象万千");
    QTest::newRow("Hei, another foundry") << 5 << QStringLiteral("茂林修竹");
}

void TestSearchablePdf::phrasesFoundInEveryFace()
{
    QFETCH(int, page);
    QFETCH(QString, phrase);
    // pdftotext may part a line's words with spaces.
    const QString text = pageText(m_facesPdf, page).remove(QRegularExpression("\\s"));
    QVERIFY2(text.contains(phrase), qPrintable(text));
    QVERIFY(!pageText(m_facesPdf, page % 5 + 1).contains(phrase));
}

void TestSearchablePdf::phrasesFoundOnTheirPages_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("phrase");
    QTest::newRow("chinese, page 1") << 1 << QStringLiteral("老师把小册子的每一页放在镜头下面");
    QTest::newRow("english, page 1") << 1 << QStringLiteral("The quick brown fox jumps");
    QTest::newRow("chinese, page 2") << 2 << QStringLiteral("北京市海淀区图书馆三楼阅览室");
    QTest::newRow("english, page 2") << 2 << QStringLiteral("chapter three: results");
}

void TestSearchablePdf::phrasesFoundOnTheirPages()
{
    QFETCH(int, page);
    QFETCH(QString, phrase);
    const QString text = pageText(m_pdf, page);
    QVERIFY2(text.contains(phrase), qPrintable(text));
    QVERIFY(!pageText(m_pdf, 3 - page).contains(phrase));
}

void TestSearchablePdf::photographsKeepTheirBytes()
{
    const QString prefix = m_dir.filePath("extracted");
    runTool("pdfimages", {"-all", m_pdf, prefix});
    for (int i = 0; i < m_sources.size(); ++i)
        QVERIFY(fileBytes(QStringLiteral("%1-%2.jpg").arg(prefix).arg(i, 3, 10, QLatin1Char('0'))) ==
                fileBytes(m_sources[i]));
}

// Every word pdftotext finds lies on one recognised line, and each line's
// words span the line's width.
void TestSearchablePdf::textLiesOverItsLine()
{
    const QSize picture = QImage(m_sources[0]).size();
    const QList<PdfWord> words = wordsOnPage(m_pdf, 1);
    QVERIFY(!words.isEmpty());
    const double scale = 841.89 / picture.height(); // a portrait A4 page filled by the picture
    QVector<QRectF> spans(m_layers[0].size());
    for (const PdfWord &word : words) {
        int on = -1;
        for (int i = 0; i < m_layers[0].size(); ++i) {
            const QRect box = m_layers[0][i].box;
            if (word.box.center().y() > box.top() * scale && word.box.center().y() < (box.bottom() + 1) * scale)
                on = i;
        }
        QVERIFY2(on >= 0, qPrintable(word.text));
        spans[on] = spans[on].isNull() ? word.box : spans[on].united(word.box);
    }
    for (int i = 0; i < spans.size(); ++i) {
        const QRect box = m_layers[0][i].box;
        QVERIFY(qAbs(spans[i].left() - box.left() * 595.276 / picture.width()) < 3.0);
        QVERIFY(qAbs(spans[i].right() - (box.right() + 1) * 595.276 / picture.width()) < 3.0);
    }
}

void TestSearchablePdf::dialogWithSwitchesOffWritesThePlainDocument()
{
    ScopedWorkingDir wd;
    QTemporaryDir work;
    Cache::config->update([&](ConfigValues &v) {
        v.saveType = 0;
        v.savePrefix = QStringLiteral("IMG");
        v.saveNumber = 1;
        v.userDocumentsLocation = work.path();
        v.pdfAutoCapture.reset();
        v.pdfOcr.reset();
    });
    ImageSavePDFOrTiffDialog dialog;
    QSignalSpy watching(&dialog, &ImageSavePDFOrTiffDialog::watchPageTurnsSignal);
    dialog.show();
    dialog.setImage(m_sources);
    QSignalSpy saved(&dialog, &ImageSavePDFOrTiffDialog::saveImageMergingSignals);
    QMetaObject::invokeMethod(&dialog, "on_btnSavePDF_clicked");
    QTRY_COMPARE(saved.count(), 1);
    const QString document = saved[0][0].value<QList<QString>>().value(0);
    const QString prefix = work.filePath("extracted");
    runTool("pdfimages", {"-all", document, prefix});
    for (int i = 0; i < m_sources.size(); ++i)
        QVERIFY(fileBytes(QStringLiteral("%1-%2.jpg").arg(prefix).arg(i, 3, 10, QLatin1Char('0'))) ==
                fileBytes(m_sources[i]));
    QVERIFY(!fileBytes(document).contains("/Font"));
    QVERIFY(pageText(document, 1).trimmed().isEmpty());
    QCOMPARE(watching.count(), 0);
    QVERIFY(!Cache::config->snapshot().pdfOcr.has_value());
}

// A worker that crashes on one page: the document is still written, that
// page without text, and the user is told which page it was.
void TestSearchablePdf::failedPageIsWrittenWithoutTextAndReported()
{
    ScopedWorkingDir wd;
    QTemporaryDir work;
    const QString worker = work.filePath("worker.sh");
    QFile script(worker);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write(QStringLiteral("#!/bin/sh\ncase \"$1\" in *IMG_2*) kill -SEGV $$;; esac\nexec \"%1\" \"$1\"\n")
                     .arg(OcrQueue::workerPath())
                     .toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray realWorker = qgetenv("VORLANT_OCR_WORKER");
    qputenv("VORLANT_OCR_WORKER", worker.toUtf8());
    Cache::config->update([&](ConfigValues &v) {
        v.saveType = 0;
        v.userDocumentsLocation = work.path();
    });

    MessageBoxCloser boxes;
    ImageSavePDFOrTiffDialog dialog;
    dialog.show();
    dialog.setImage(m_sources);
    dialog.findChild<QCheckBox *>("checkOcr")->setChecked(true);
    QSignalSpy saved(&dialog, &ImageSavePDFOrTiffDialog::saveImageMergingSignals);
    QMetaObject::invokeMethod(&dialog, "on_btnSavePDF_clicked");
    QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 1, kOcrTimeoutMs);
    qputenv("VORLANT_OCR_WORKER", realWorker);

    QTRY_COMPARE(boxes.seen.size(), 1);
    QVERIFY2(boxes.seen[0].startsWith("警告|") && boxes.seen[0].contains("第 2 页") &&
                 boxes.seen[0].contains("IMG_2.jpg") && !boxes.seen[0].contains("第 1 页"),
             qPrintable(boxes.seen[0]));
    const QString document = saved[0][0].value<QList<QString>>().value(0);
    QVERIFY(pageText(document, 1).contains(QStringLiteral("The quick brown fox")));
    QVERIFY(pageText(document, 2).trimmed().isEmpty());
    QVERIFY(QString::fromUtf8(runTool("pdfinfo", {document})).contains(QRegularExpression("Pages:\\s+2\\n")));
    QCOMPARE(Cache::config->snapshot().pdfOcr, std::optional<bool>(true));
}

void TestSearchablePdf::pageTurnsWatchedOnlyWhileShownAndOn()
{
    ScopedWorkingDir wd;
    Cache::config->update([](ConfigValues &v) {
        v.pdfAutoCapture = true;
        v.pdfOcr.reset();
    });
    ImageSavePDFOrTiffDialog dialog;
    QCheckBox *box = dialog.findChild<QCheckBox *>("checkAutoCapture");
    QVERIFY(box->isChecked()); // as stored
    QSignalSpy watching(&dialog, &ImageSavePDFOrTiffDialog::watchPageTurnsSignal);
    box->setChecked(false);
    box->setChecked(true); // hidden: nothing to watch yet
    QCOMPARE(watching.count(), 0);
    dialog.show();
    QVERIFY(dialog.isWatchingPageTurns());
    box->setChecked(false);
    QVERIFY(!dialog.isWatchingPageTurns());
    box->setChecked(true);
    dialog.hide();
    QList<bool> seen;
    for (const QList<QVariant> &call : watching)
        seen << call[0].toBool();
    QCOMPARE(seen, (QList<bool>{true, false, true, false}));
    // Written as changed; the switch left alone stays out of the file.
    const QSettings file("system.ini", QSettings::IniFormat);
    QCOMPARE(file.value("save/pdf_auto_capture").toString(), QStringLiteral("true"));
    QVERIFY(!file.contains("save/pdf_ocr"));
}

void TestSearchablePdf::switchesReachTheFileOnlyOnceChanged_data()
{
    QTest::addColumn<std::optional<bool>>("autoCapture");
    QTest::addColumn<std::optional<bool>>("ocr");
    QTest::addColumn<QStringList>("extraKeys");

    QTest::newRow("never changed") << std::optional<bool>() << std::optional<bool>() << QStringList{};
    QTest::newRow("page turns on") << std::optional<bool>(true) << std::optional<bool>() << QStringList{"save/pdf_auto_capture"};
    QTest::newRow("both turned off again")
        << std::optional<bool>(false) << std::optional<bool>(false) << QStringList{"save/pdf_auto_capture", "save/pdf_ocr"};
}

void TestSearchablePdf::switchesReachTheFileOnlyOnceChanged()
{
    QFETCH(std::optional<bool>, autoCapture);
    QFETCH(std::optional<bool>, ocr);
    QFETCH(QStringList, extraKeys);

    ScopedWorkingDir wd;
    Config config; // writes the factory file
    QCOMPARE(QSettings("system.ini", QSettings::IniFormat).allKeys().size(), 29);
    config.update([&](ConfigValues &v) {
        v.pdfAutoCapture = autoCapture;
        v.pdfOcr = ocr;
    });
    QVERIFY(config.save());
    const QStringList keys = QSettings("system.ini", QSettings::IniFormat).allKeys();
    QCOMPARE(keys.size(), 29 + extraKeys.size());
    for (const QString &key : extraKeys)
        QVERIFY(keys.contains(key));

    const Config reread;
    QCOMPARE(reread.pdfAutoCapture, autoCapture);
    QCOMPARE(reread.pdfOcr, ocr);

    // The factory settings forget them again.
    config.init();
    QVERIFY(config.save());
    QCOMPARE(QSettings("system.ini", QSettings::IniFormat).allKeys().size(), 29);
}

QTEST_MAIN(TestSearchablePdf)
#include "test_searchablepdf.moc"
