#include "scenes/printedsheet.h"
#include "engine/detection.h"
#include "engine/ocrqueue.h"
#include "engine/photo.h"
#include "support/fakeworker.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

class TestOcr : public QObject {
    Q_OBJECT

private slots:
    void workerOutputRoundTrip_data();
    void workerOutputRoundTrip();
    void queueReadsPagesAndReportsFailures();
    void workerTrustedNoFurtherThanNeeded_data();
    void workerTrustedNoFurtherThanNeeded();
};

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
