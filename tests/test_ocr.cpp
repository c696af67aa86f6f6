#include "scenes/corpus.h"
#include "scenes/printedsheet.h"
#include "engine/detection.h"
#include "engine/ocrqueue.h"
#include "engine/photo.h"
#include "ocr/modelreader.h"
#include "ocr/textrecognition.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

Q_DECLARE_METATYPE(std::vector<cv::RotatedRect>)
Q_DECLARE_METATYPE(std::vector<int>)

class TestOcr : public QObject {
    Q_OBJECT

private slots:
    void workerOutputRoundTrip_data();
    void workerOutputRoundTrip();
    void queueReadsPagesAndReportsFailures();
    void linesFoundInTheDetectorsMap_data();
    void linesFoundInTheDetectorsMap();
    void greedyReading_data();
    void greedyReading();
    void resolutionForTesseract_data();
    void resolutionForTesseract();
    void workerReadsWithEitherEngine_data();
    void workerReadsWithEitherEngine();
};

void TestOcr::linesFoundInTheDetectorsMap_data()
{
    QTest::addColumn<std::vector<cv::RotatedRect>>("lines");
    QTest::addColumn<float>("probability");
    QTest::addColumn<int>("found");

    QTest::newRow("two lines") << std::vector<cv::RotatedRect>{{{120, 40}, {180, 12}, 0}, {{120, 80}, {150, 12}, 0}}
                               << 0.9f << 2;
    QTest::newRow("a turned line") << std::vector<cv::RotatedRect>{{{120, 60}, {180, 14}, 8}} << 0.9f << 1;
    QTest::newRow("a faint region is no line") << std::vector<cv::RotatedRect>{{{120, 60}, {180, 14}, 0}} << 0.45f << 0;
    QTest::newRow("a speck is no line") << std::vector<cv::RotatedRect>{{{120, 60}, {2, 2}, 0}} << 0.9f << 0;
}

// Each line's region in the map gives one box, in the picture's pixels,
// covering the whole line (the map marks a shrunken core) but not its
// neighbours, with its corners clockwise from the top left.
void TestOcr::linesFoundInTheDetectorsMap()
{
    QFETCH(std::vector<cv::RotatedRect>, lines);
    QFETCH(float, probability);
    QFETCH(int, found);

    cv::Mat map(120, 240, CV_32F, cv::Scalar(0.02));
    for (const cv::RotatedRect &line : lines) {
        cv::Point2f p[4];
        line.points(p);
        std::vector<cv::Point> poly(p, p + 4);
        cv::fillConvexPoly(map, poly, cv::Scalar(probability));
    }
    const double scale = 4.0;
    const std::vector<TextQuad> quads = quadsFromProbability(map, {scale, scale});
    QCOMPARE(static_cast<int>(quads.size()), found);
    for (const TextQuad &quad : quads) {
        const auto &c = quad.corners;
        QVERIFY(c[0].x < c[1].x && c[3].x < c[2].x && c[0].y < c[3].y && c[1].y < c[2].y);
        const cv::Rect box = cv::boundingRect(std::vector<cv::Point2f>(c.begin(), c.end()));
        int covered = 0;
        for (const cv::RotatedRect &line : lines) {
            const cv::Rect2f core = line.boundingRect2f();
            const cv::Rect2f scaled(core.x * scale, core.y * scale, core.width * scale, core.height * scale);
            const bool inside = box.contains(scaled.tl()) && box.contains(scaled.br());
            // The core grown by about its own height on each side (the
            // line's ink), not by as much as the gap to the next line.
            const bool tight = box.height < scaled.height + 2.5 * line.size.height * scale;
            covered += inside && tight;
        }
        QCOMPARE(covered, 1);
    }
}

void TestOcr::greedyReading_data()
{
    QTest::addColumn<std::vector<int>>("steps");
    QTest::addColumn<QString>("text");

    // Keys 甲 乙 丙: index 0 is the blank, 1 to 3 the keys, 4 a space.
    QTest::newRow("repeats are one character") << std::vector<int>{1, 1, 1, 2, 2} << QStringLiteral("甲乙");
    QTest::newRow("a blank parts a doubled character") << std::vector<int>{1, 0, 1, 0, 0, 3} << QStringLiteral("甲甲丙");
    QTest::newRow("the last index is a space") << std::vector<int>{2, 4, 4, 3} << QStringLiteral("乙 丙");
    QTest::newRow("all blank") << std::vector<int>{0, 0, 0} << QString();
}

void TestOcr::greedyReading()
{
    QFETCH(std::vector<int>, steps);
    QFETCH(QString, text);

    const QStringList keys = {QStringLiteral("甲"), QStringLiteral("乙"), QStringLiteral("丙")};
    cv::Mat scores(static_cast<int>(steps.size()), keys.size() + 2, CV_32F, cv::Scalar(0.05));
    for (int t = 0; t < scores.rows; ++t)
        scores.at<float>(t, steps[t]) = t % 2 ? 0.9f : 0.7f;
    const DecodedLine line = decodeGreedy(scores, keys);
    QCOMPARE(line.text, text);
    // The confidence is that of the characters kept, not of the blanks.
    if (!text.isEmpty())
        QVERIFY(line.confidence >= 0.7 && line.confidence <= 0.9);
    else
        QCOMPARE(line.confidence, 0.0);
}

void TestOcr::resolutionForTesseract_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("lineHeight");
    QTest::addColumn<int>("dpi");

    QTest::newRow("A4 scanned at 300 dpi") << QSize(2480, 3508) << 0 << 300;
    QTest::newRow("A4 photographed, 190 dpi") << QSize(1590, 2250) << 0 << 192;
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

void TestOcr::workerReadsWithEitherEngine_data()
{
    QTest::addColumn<bool>("models");
    QTest::addColumn<int>("dpi");
    QTest::addColumn<bool>("photographed");
    QTest::newRow("text models, photographed on a wooden desk") << true << 200 << true;
    // A clean page at 300 dpi, which tesseract left to guess took for 540 dpi.
    QTest::newRow("tesseract, a clean page") << false << 300 << false;
}

// A corpus page: the worker says which engine read it, and the text is there.
void TestOcr::workerReadsWithEitherEngine()
{
    QFETCH(bool, models);
    QFETCH(int, dpi);
    QFETCH(bool, photographed);

    const QString worker = OcrQueue::workerPath();
    const QString modelFolder = findModelFolder(QFileInfo(worker).absolutePath());
    if (models && modelFolder.isEmpty())
        QSKIP("the text models were not fetched (an offline build)");
    QTemporaryDir dir;
    const CorpusPage page = layOutPage(corpusFaces().front(), corpusParagraphs().mid(0, 2), dpi);
    const QString path = dir.filePath("page.jpg");
    const Capture capture = photographed ? Capture::Photo : Capture::Clean;
    QVERIFY(cv::imwrite(path.toStdString(), capturedPage(page.picture, capture, DeskSurface::Oak, 5)));

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_LOGGING_RULES", "vorlant.ocr.debug=true");
    environment.insert("VORLANT_OCR_MODELS", models ? modelFolder : dir.path());
    process.setProcessEnvironment(environment);
    process.start(worker, {path});
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitCode(), 0);
    const QString said = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(said.contains(models ? "page read by the text models" : "page read by tesseract at"), qPrintable(said));
    QList<OcrLine> lines;
    QVERIFY(parseOcrLines(process.readAllStandardOutput(), &lines));
    QString text;
    for (const OcrLine &line : lines)
        text += line.text;
    // Read in order, whole lines: the first line read is the page's first.
    QVERIFY2(!lines.isEmpty() && lines[0].text.contains(QStringLiteral("武陵人捕鱼为业")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("芳草鲜美")), qPrintable(text));
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

QTEST_MAIN(TestOcr)
#include "test_ocr.moc"
