#include "scenes/corpus.h"
#include "scenes/printedsheet.h"
#include "engine/detection.h"
#include "engine/ocrqueue.h"
#include "engine/photo.h"
#include "ocr/modelreader.h"
#include "ocr/textrecognition.h"
#include "support/fakeworker.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

class TestOcr : public QObject {
    Q_OBJECT

private slots:
    void workerOutputRoundTrip_data();
    void workerOutputRoundTrip();
    void queueReadsPagesAndReportsFailures();
    void latinSpacingJoinsTheBetterCharacters_data();
    void latinSpacingJoinsTheBetterCharacters();
    void resolutionForTesseract_data();
    void resolutionForTesseract();
    void workerReadsPagesInOrder_data();
    void workerReadsPagesInOrder();
    void workerTrustedNoFurtherThanNeeded_data();
    void workerTrustedNoFurtherThanNeeded();
};

void TestOcr::latinSpacingJoinsTheBetterCharacters_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("spaced");
    QTest::addColumn<QString>("joined");

    QTest::newRow("words parted") << "Thequick brownfox" << "The quick brown fox" << "The quick brown fox";
    QTest::newRow("Chinese kept from the first reading")
        << QStringLiteral("注:以上各篇选自GuwenGuanzhi第7卷") << QStringLiteral("注:以上各简选自Guwen Guanzhi第7卷")
        << QStringLiteral("注:以上各篇选自Guwen Guanzhi第7卷");
    QTest::newRow("misread word, its space kept") << "reprinted2019" << "frebfrinted 2019" << "reprinted 2019";
    QTest::newRow("no space beside a misread letter") << "foxjumps" << "fox iumps" << "foxjumps";
    QTest::newRow("none between Chinese characters") << QStringLiteral("中文字") << QStringLiteral("中 文 字")
                                                     << QStringLiteral("中文字");
}

// A Latin line is read twice; the second reading's misread characters must
// not reach the page's text, nor may its spaces fall inside a word.
void TestOcr::latinSpacingJoinsTheBetterCharacters()
{
    QFETCH(QString, text);
    QFETCH(QString, spaced);
    QFETCH(QString, joined);
    QCOMPARE(withSpacesOf(text, spaced), joined);
}

void TestOcr::resolutionForTesseract_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("lineHeight");
    QTest::addColumn<int>("dpi");

    QTest::newRow("A4 scanned at 300 dpi") << QSize(2480, 3508) << 0 << 300;
    QTest::newRow("Letter at 300 dpi, landscape") << QSize(3300, 2550) << 0 << 300;
    // Not a page's proportions: 12 point text whose lines are 46 px tall is 300 dpi.
    QTest::newRow("a cut-out, 46 px lines") << QSize(1800, 900) << 46 << 301;
    QTest::newRow("a cut-out, 16 px lines") << QSize(1800, 900) << 16 << 105;
}

// Left to guess, tesseract takes a clean page for a much finer one and
// breaks every line into fragments.
void TestOcr::resolutionForTesseract()
{
    QFETCH(QSize, size);
    QFETCH(int, lineHeight);
    QFETCH(int, dpi);

    cv::Mat page(size.height(), size.width(), CV_8U, cv::Scalar(245));
    for (int y = 60; lineHeight > 0 && y + lineHeight < page.rows - 60; y += lineHeight * 2)
        for (int x = 80; x + lineHeight < page.cols - 80; x += lineHeight * 5 / 4)
            cv::rectangle(page, cv::Rect(x, y, lineHeight, lineHeight), cv::Scalar(20), cv::FILLED);
    QVERIFY2(qAbs(estimatedResolution(page) - dpi) <= 3, qPrintable(QString::number(estimatedResolution(page))));
}

void TestOcr::workerReadsPagesInOrder_data()
{
    QTest::addColumn<bool>("models");
    QTest::addColumn<int>("face");
    QTest::addColumn<int>("dpi");
    QTest::addColumn<bool>("photographed");
    QTest::addColumn<double>("turn");
    QTest::addColumn<bool>("twoColumns");
    QTest::addColumn<int>("firstParagraph");
    QTest::newRow("text models, photographed on a wooden desk") << true << 0 << 200 << true << 0.0 << false << 0;
    // A clean page at 300 dpi, which tesseract left to guess took for 540 dpi;
    // its third line is a lone full stop, which tesseract read as 四.
    QTest::newRow("tesseract, a clean page") << false << 3 << 300 << false << 0.0 << false << 4;
    // Left as it lay, a page turned so far was read at 50-79% character errors.
    QTest::newRow("tesseract, a scan laid 2.5 degrees askew") << false << 3 << 150 << false << 2.5 << false << 0;
    QTest::newRow("tesseract, askew the other way") << false << 3 << 150 << false << -2.0 << false << 0;
    QTest::newRow("tesseract, two columns") << false << 3 << 150 << false << 0.0 << true << 0;
}

// A corpus page: the worker says which engine read it, every printed line is
// there in reading order, and no line runs across from one column into the next.
void TestOcr::workerReadsPagesInOrder()
{
    QFETCH(bool, models);
    QFETCH(int, face);
    QFETCH(int, dpi);
    QFETCH(bool, photographed);
    QFETCH(double, turn);
    QFETCH(bool, twoColumns);
    QFETCH(int, firstParagraph);

    const QString worker = OcrQueue::workerPath();
    const QString modelFolder = findModelFolder(QFileInfo(worker).absolutePath());
    if (models && modelFolder.isEmpty())
        QSKIP("the text models were not fetched (an offline build)");
    const QStringList paragraphs = corpusParagraphs();
    CorpusPage page = layOutPage(corpusFaces()[face], paragraphs.mid(firstParagraph, 2), dpi);
    const int columnWidth = page.picture.cols;
    if (twoColumns) {
        const CorpusPage right = layOutPage(corpusFaces()[face], paragraphs.mid(2, 2), dpi);
        cv::hconcat(page.picture, right.picture, page.picture);
        page.lines += right.lines;
    }
    cv::Mat picture = capturedPage(page.picture, photographed ? Capture::Photo : Capture::Clean, DeskSurface::Oak, 5);
    const cv::Point2f centre(picture.cols / 2.0f, picture.rows / 2.0f);
    cv::warpAffine(picture, picture, cv::getRotationMatrix2D(centre, turn, 1.0), picture.size(), cv::INTER_LINEAR,
                   cv::BORDER_CONSTANT, cv::Scalar::all(250));
    QTemporaryDir dir;
    const QString path = dir.filePath("page.jpg");
    QVERIFY(cv::imwrite(path.toStdString(), picture));

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_LOGGING_RULES", "vorlant.ocr.debug=true");
    // One thread, as the program starts it (OcrQueue sets the same).
    environment.insert("OMP_THREAD_LIMIT", "1");
    environment.insert("VORLANT_OCR_MODELS", models ? modelFolder : dir.path());
    process.setProcessEnvironment(environment);
    process.start(worker, {path});
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitCode(), 0);
    const QString said = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(said.contains(models ? "page read by the text models" : "page read by tesseract at"), qPrintable(said));
    QList<OcrLine> lines;
    QVERIFY(parseOcrLines(process.readAllStandardOutput(), &lines));
    const auto bare = [](QString text) { return text.remove(QRegularExpression("\\s")); };
    // A few words from the middle of a printed line.
    const auto middle = [&bare](const QString &printed) { return bare(printed).mid(bare(printed).size() / 2, 4); };
    QString text;
    QStringList read;
    for (const OcrLine &line : lines) {
        text += bare(line.text);
        read += bare(line.text);
        QVERIFY(!twoColumns || line.box.right() < columnWidth || line.box.left() >= columnWidth);
    }
    for (const QString &printed : page.lines)
        QVERIFY2(printed.size() > 1 || read.contains(printed), qPrintable(read.join('|')));
    // Whole lines in reading order: the first line read is the page's first,
    // and each printed line is found after the last one's.
    QVERIFY2(!lines.isEmpty() && bare(lines[0].text).contains(middle(page.lines[0])), qPrintable(text));
    int found = 0, at = 0;
    for (const QString &printed : page.lines) {
        const int where = text.indexOf(middle(printed), at);
        if (where >= 0) {
            ++found;
            at = where;
        }
    }
    QVERIFY2(found >= page.lines.size() * 3 / 4,
             qPrintable(QStringLiteral("%1 of %2 lines: %3").arg(found).arg(page.lines.size()).arg(text)));
}

void TestOcr::workerOutputRoundTrip_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("lines");

    const QByteArray two = formatOcrLines({{QRect(10, 20, 300, 30), QStringLiteral("第一行 text")},
                                           {QRect(10, 60, 280, 31), QStringLiteral("tab\tinside")}});
    QTest::newRow("two lines") << two << true << 2;
    QTest::newRow("no text on the page") << QByteArray() << true << 0;
    QTest::newRow("worker died mid-line") << two.left(two.size() - 5) << false << 0;
    QTest::newRow("garbage") << QByteArray("Segmentation fault\n") << false << 0;
    QTest::newRow("empty box") << QByteArray("1 2 0 5\tx\n") << false << 0;
}

void TestOcr::workerOutputRoundTrip()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, ok);
    QFETCH(int, lines);

    QList<OcrLine> parsed;
    QCOMPARE(parseOcrLines(data, &parsed), ok);
    if (!ok)
        return;
    QCOMPARE(parsed.size(), lines);
    if (lines == 2) {
        QCOMPARE(parsed[0].box, QRect(10, 20, 300, 30));
        QCOMPARE(parsed[0].text, QStringLiteral("第一行 text"));
        QCOMPARE(parsed[1].text, QStringLiteral("tab inside"));
    }
}

// A readable page, a corrupt one and a missing one go to the workers
// together: each gets its own answer and the queue finishes.
void TestOcr::queueReadsPagesAndReportsFailures()
{
    QTemporaryDir dir;
    const cv::Mat photo = drawPrintedSheet(cv::Size(1632, 1224), sampleTextLines(), 2.0f);
    const cv::Mat page = extractDocument(photo, detectDocuments(photo).best);
    const QString good = dir.filePath("page.jpg");
    QVERIFY(cv::imwrite(good.toStdString(), page));
    const QString corrupt = dir.filePath("corrupt.jpg");
    QFile file(corrupt);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("\xff\xd8\xff\xe0 not really a picture"));
    file.close();

    OcrQueue queue;
    QSignalSpy done(&queue, &OcrQueue::finished);
    queue.start({corrupt, good, dir.filePath("missing.jpg")});
    queue.waitForFinished();
    QCOMPARE(done.count(), 1);
    QVERIFY(!queue.page(0).ok);
    QVERIFY(!queue.page(0).error.isEmpty());
    QVERIFY(!queue.page(2).ok);
    QVERIFY2(queue.page(1).ok, qPrintable(queue.page(1).error));

    // The first lines read as printed, each box where its line was drawn: one below the other.
    const QList<OcrLine> &lines = queue.page(1).lines;
    QVERIFY(lines.size() >= 5);
    QCOMPARE(lines[0].text, sampleTextLines()[0]);
    QVERIFY(lines[4].text.startsWith(QStringLiteral("The quick brown fox")));
    for (int i = 1; i < lines.size(); ++i)
        QVERIFY(lines[i].box.top() > lines[i - 1].box.bottom());

    // Without its worker the queue still answers every page.
    queue.setWorkerPath(dir.filePath("no-such-worker"));
    queue.start({good});
    queue.waitForFinished();
    QVERIFY(!queue.page(0).ok);
    QVERIFY(queue.page(0).error.contains(QStringLiteral("无法启动")));
}

// A worker that floods its output is stopped, what it says on standard error
// is not the reason the user reads, and one that never answers times out.
void TestOcr::workerTrustedNoFurtherThanNeeded_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("notShown");
    QTest::newRow("floods its output") << "exec yes '1 2 3 4\tx'" << "输出过多" << "";
    QTest::newRow("explains itself on standard error")
        << "echo 'Estimating resolution as 412' >&2; exit 1" << "退出码 1" << "Estimating";
    QTest::newRow("never answers") << "exec sleep 60" << "超时" << "";
}

void TestOcr::workerTrustedNoFurtherThanNeeded()
{
    QFETCH(QString, body);
    QFETCH(QString, reason);
    QFETCH(QString, notShown);
    constexpr int kTimeoutMs = 1000;
    QTemporaryDir dir;
    OcrQueue queue;
    queue.setWorkerPath(writeWorkerScript(dir.filePath("worker.sh"), body));
    queue.setPageTimeout(kTimeoutMs);
    QElapsedTimer clock;
    clock.start();
    queue.start({dir.filePath("page.jpg")});
    queue.waitForFinished();
    QVERIFY(clock.elapsed() < 10 * kTimeoutMs);
    QVERIFY(!queue.page(0).ok);
    QVERIFY2(queue.page(0).error.contains(reason), qPrintable(queue.page(0).error));
    QVERIFY(notShown.isEmpty() || !queue.page(0).error.contains(notShown));
}

QTEST_MAIN(TestOcr)
#include "test_ocr.moc"
