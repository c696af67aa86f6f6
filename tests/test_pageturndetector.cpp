#include "app/cache.h"
#include "scenes/pageturns.h"
#include "engine/imageprocessing.h"
#include "engine/pageturndetector.h"
#include "support/scriptedframesource.h"
#include "support/workingdir.h"

#include <opencv2/imgproc.hpp>

#include <atomic>

#include <QVector>
#include <QtTest>

Q_DECLARE_METATYPE(std::vector<BookView>)

namespace {

const cv::Size kFrameSize(640, 360);

PageTurnScript script(BookView look = {})
{
    return PageTurnScript(kFrameSize, look);
}

// Draws the frames of a sequence with fresh sensor noise; a long still stretch
// repeats the noise of 30 frames before instead of drawing every frame anew.
class Frames {
public:
    explicit Frames(const std::vector<BookView> &views) : m_views(views), m_ring(kRing) {}
    cv::Mat at(int i)
    {
        cv::Mat &slot = m_ring[i % kRing];
        if (i < kRing || !sameView(m_views[i], m_views[i - kRing]))
            slot = drawBookView(kFrameSize, m_views[i], static_cast<unsigned>(i + 1));
        return slot;
    }

private:
    static constexpr int kRing = 30;
    std::vector<BookView> m_views;
    std::vector<cv::Mat> m_ring;
};

} // namespace

class TestPageTurnDetector : public QObject {
    Q_OBJECT

private slots:
    void blockAverageIsTheLibrarysAreaResampling_data();
    void blockAverageIsTheLibrarysAreaResampling();
    void shotsOnDrawnSequences_data();
    void shotsOnDrawnSequences();
    void resetForgetsThePage();
    void captureThreadSignalsOnlyWhileWatching_data();
    void captureThreadSignalsOnlyWhileWatching();
};

void TestPageTurnDetector::blockAverageIsTheLibrarysAreaResampling_data()
{
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<QSize>("target");
    QTest::newRow("1920x1080 to the motion picture") << QSize(1920, 1080) << QSize(160, 90);
    QTest::newRow("1920x1080 to the check picture") << QSize(1920, 1080) << QSize(480, 270);
    QTest::newRow("odd width, 17 columns a block") << QSize(2720, 90) << QSize(160, 90);
}

// Over all rows the hand-written sums give the library's pixels (to rounding).
void TestPageTurnDetector::blockAverageIsTheLibrarysAreaResampling()
{
    QFETCH(QSize, frame);
    QFETCH(QSize, target);
    cv::Mat picture(frame.height(), frame.width(), CV_8UC3);
    cv::randu(picture, cv::Scalar::all(0), cv::Scalar::all(256));
    cv::Mat expected;
    cv::resize(picture, expected, cv::Size(target.width(), target.height()), 0, 0, cv::INTER_AREA);
    const cv::Mat averaged = blockAverage(picture, expected.size(), frame.height());
    QCOMPARE(averaged.size(), expected.size());
    QVERIFY(cv::norm(averaged, expected, cv::NORM_INF) <= 1.0);
}

void TestPageTurnDetector::shotsOnDrawnSequences_data()
{
    QTest::addColumn<std::vector<BookView>>("views");
    QTest::addColumn<QVector<int>>("shotPages");

    QTest::newRow("turns: normal, fast, hesitating")
        << script().still(20).turn(6, 10, 6).still(20).turn(2, 3, 2).still(20).turn(5, 10, 5, 24).still(20).views()
        << QVector<int>{1, 2, 3};
    QTest::newRow("hand rests on the new page before leaving")
        << script().still(20).turn(5, 8, 0).handRests(40).still(20).views() << QVector<int>{1};
    QTest::newRow("still page for a minute") << script().still(1800).views() << QVector<int>{};
    BookView bright;
    bright.light = 1.2;
    QTest::newRow("lighting step of +20%") << script().still(30).with(bright, 60).views() << QVector<int>{};
    BookView nudged, nudgedTwice;
    nudged.shift = {1, 0};
    nudgedTwice.shift = {1, 1};
    QTest::newRow("book nudged by 1 px")
        << script().still(30).with(nudged, 30).with(nudgedTwice, 30).views() << QVector<int>{};
    QTest::newRow("hand resting on the page") << script().still(20).handRests(150).still(30).views()
                                              << QVector<int>{};

    // Desks and covers inside the skin colours never hold a shot; hands of
    // every tone still do while they rest on the new page.
    struct Case {
        DeskSurface desk;
        const char *skin;
        bool cover;
    };
    const Case cases[] = {{DeskSurface::Oak, "very-light", true},   {DeskSurface::Oak, "very-dark", false},
                          {DeskSurface::Patterned, "tan", false},    {DeskSurface::White, "brown", true},
                          {DeskSurface::Black, "very-dark", false},  {DeskSurface::Dark, "light", true}};
    for (const Case &c : cases) {
        BookView look;
        look.desk = c.desk;
        look.cover = c.cover;
        for (const SkinTone &tone : skinTones())
            if (QLatin1String(tone.name) == QLatin1String(c.skin))
                look.skin = tone.bgr;
        const char *deskName = "";
        for (const DeskKind &kind : deskKinds())
            if (kind.surface == c.desk)
                deskName = kind.name;
        QTest::addRow("%s desk%s, %s hand", deskName, c.cover ? " with a cover" : "", c.skin)
            << script(look).still(20).turn(5, 8, 0).handRests(40).still(20).turn(6, 10, 6).still(20).views()
            << QVector<int>{1, 2};
    }
}

void TestPageTurnDetector::shotsOnDrawnSequences()
{
    QFETCH(std::vector<BookView>, views);
    QFETCH(QVector<int>, shotPages);

    PageTurnDetector detector;
    Frames frames(views);
    QVector<int> shots;
    for (int i = 0; i < static_cast<int>(views.size()); ++i) {
        const BookView &view = views[i];
        if (!detector.feed(frames.at(i)))
            continue;
        // A shot shows a settled page and never the hand.
        QVERIFY2(view.turned == 0.0 && view.hand.x < 0, qPrintable(QString("shot at frame %1, mid-turn or with the hand in view").arg(i)));
        shots.append(view.page);
    }
    QCOMPARE(shots, shotPages);
}

// Watching starts again after a pause in which pages were turned: the page
// then in view is the user's to shoot, only the next turn is shot.
void TestPageTurnDetector::resetForgetsThePage()
{
    PageTurnDetector detector;
    BookView view;
    for (int i = 0; i < 20; ++i)
        QVERIFY(!detector.feed(drawBookView(kFrameSize, view, i + 1)));
    detector.reset();
    view.page = 3;
    for (int i = 0; i < 20; ++i)
        QVERIFY(!detector.feed(drawBookView(kFrameSize, view, i + 1)));
    view.page = 4;
    int shots = 0;
    for (int i = 0; i < 20; ++i)
        shots += detector.feed(drawBookView(kFrameSize, view, i + 1));
    QCOMPARE(shots, 1);
}

void TestPageTurnDetector::captureThreadSignalsOnlyWhileWatching_data()
{
    QTest::addColumn<bool>("watch");
    QTest::addColumn<int>("turns");
    QTest::newRow("watching") << true << 1;
    QTest::newRow("not watching") << false << 0;
}

// The capture thread feeds every frame it reads to the detector, and only
// while asked to.
void TestPageTurnDetector::captureThreadSignalsOnlyWhileWatching()
{
    QFETCH(bool, watch);
    QFETCH(int, turns);

    ScopedWorkingDir wd;
    Cache::cameras->clear();
    CameraInfo camera;
    camera.path = QStringLiteral("/dev/video0");
    Cache::cameras->append(camera);
    const std::vector<BookView> views = script().still(20).turn(4, 6, 4).still(30).views();
    auto frames = [views](int i) {
        return drawBookView(kFrameSize, views[std::min<size_t>(i, views.size() - 1)], i + 1);
    };

    ImageProcessing engine;
    engine.setFrameSourceFactory(scriptedFactory(std::make_shared<ScriptedLog>(), frames));
    std::atomic<int> read{0}, turned{0};
    connect(&engine, &ImageProcessing::sendFarmeSignal, this, [&read](QImage) { ++read; }, Qt::DirectConnection);
    connect(&engine, &ImageProcessing::pageTurnedSignal, this, [&turned] { ++turned; }, Qt::DirectConnection);
    engine.setWatchPageTurns(watch);
    engine.begin();
    engine.openCamara();
    QTRY_VERIFY_WITH_TIMEOUT(read.load() > static_cast<int>(views.size()) + 10, 60000);
    engine.end();
    QCOMPARE(turned.load(), turns);
}

QTEST_GUILESS_MAIN(TestPageTurnDetector)
#include "test_pageturndetector.moc"
