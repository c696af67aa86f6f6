#include "app/cache.h"
#include "scenes/deskscene.h"
#include "engine/imageprocessing.h"
#include "engine/pageturndetector.h"
#include "support/scriptedframesource.h"
#include "support/workingdir.h"

#include <opencv2/imgproc.hpp>

#include <atomic>

#include <QVector>
#include <QtTest>

Q_DECLARE_METATYPE(QVector<BookView>)

namespace {

const cv::Size kFrameSize(640, 360);

// Short drawn sequences at 30 frames per second, built step by step, every
// view on the desk, with the cover and the hand's skin of `look`.
class Script {
public:
    explicit Script(BookView look = {}) : m_look(look) {}
    Script &still(int frames) { return with(m_look, frames); }
    Script &with(BookView view, int frames)
    {
        view.page = m_page;
        view.desk = m_look.desk;
        view.cover = m_look.cover;
        for (int i = 0; i < frames; ++i)
            m_views.append(view);
        return *this;
    }

    // A hand comes in from the right, turns the leaf, and leaves to the left.
    // `pauseFrames` holds hand and leaf still halfway through.
    Script &turn(int enter, int sweep, int leave, int pauseFrames = 0)
    {
        const float w = kFrameSize.width, h = kFrameSize.height;
        const float handY = h * 0.6f;
        const float pageRight = w * 0.7f, pageLeft = w * 0.3f;
        for (int i = 1; i <= enter; ++i)
            add(0.0, {w * 1.1f + (pageRight - w * 1.1f) * i / enter, handY});
        for (int i = 1; i < sweep; ++i) {
            const double t = static_cast<double>(i) / sweep;
            add(t, {static_cast<float>(pageRight + (pageLeft - pageRight) * t), handY});
            if (2 * i == sweep)
                for (int p = 0; p < pauseFrames; ++p)
                    add(t, {static_cast<float>(pageRight + (pageLeft - pageRight) * t), handY});
        }
        ++m_page;
        for (int i = 1; i <= leave; ++i)
            add(0.0, {pageLeft + (-w * 0.2f - pageLeft) * i / leave, handY});
        return *this;
    }
    Script &handRests(int frames)
    {
        const cv::Point2f onPage(kFrameSize.width * 0.55f, kFrameSize.height * 0.7f);
        for (int i = 1; i <= 5; ++i)
            add(0.0, {onPage.x + kFrameSize.width * 0.1f * (5 - i), onPage.y});
        for (int i = 0; i < frames; ++i)
            add(0.0, onPage);
        for (int i = 1; i <= 5; ++i)
            add(0.0, {onPage.x + kFrameSize.width * 0.1f * i, onPage.y});
        return *this;
    }
    QVector<BookView> views() const { return m_views; }

private:
    void add(double turned, cv::Point2f hand)
    {
        BookView v = m_look;
        v.page = m_page;
        v.turned = turned;
        v.hand = hand;
        m_views.append(v);
    }
    BookView m_look;
    QVector<BookView> m_views;
    int m_page = 0;
};

bool sameView(const BookView &a, const BookView &b)
{
    return a.page == b.page && a.turned == b.turned && a.hand == b.hand && a.shift == b.shift && a.light == b.light &&
           a.skin == b.skin;
}

// Draws the frames of a sequence with fresh sensor noise; a long still stretch
// repeats the noise of 30 frames before instead of drawing every frame anew.
class Frames {
public:
    explicit Frames(const QVector<BookView> &views) : m_views(views), m_ring(kRing) {}
    cv::Mat at(int i)
    {
        cv::Mat &slot = m_ring[i % kRing];
        if (i < kRing || !sameView(m_views[i], m_views[i - kRing]))
            slot = drawBookView(kFrameSize, m_views[i], static_cast<unsigned>(i + 1));
        return slot;
    }

private:
    static constexpr int kRing = 30;
    QVector<BookView> m_views;
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
    QTest::addColumn<QVector<BookView>>("views");
    QTest::addColumn<QVector<int>>("shotPages");

    QTest::newRow("turns: normal, fast, hesitating")
        << Script().still(20).turn(6, 10, 6).still(20).turn(2, 3, 2).still(20).turn(5, 10, 5, 24).still(20).views()
        << QVector<int>{1, 2, 3};
    QTest::newRow("hand rests on the new page before leaving")
        << Script().still(20).turn(5, 8, 0).handRests(40).still(20).views() << QVector<int>{1};
    QTest::newRow("still page for a minute") << Script().still(1800).views() << QVector<int>{};
    BookView bright;
    bright.light = 1.2;
    QTest::newRow("lighting step of +20%") << Script().still(30).with(bright, 60).views() << QVector<int>{};
    BookView nudged, nudgedTwice;
    nudged.shift = {1, 0};
    nudgedTwice.shift = {1, 1};
    QTest::newRow("book nudged by 1 px")
        << Script().still(30).with(nudged, 30).with(nudgedTwice, 30).views() << QVector<int>{};
    QTest::newRow("hand resting on the page") << Script().still(20).handRests(150).still(30).views()
                                              << QVector<int>{};

    BookView oak;
    oak.desk = DeskSurface::Oak;
    oak.cover = true;
    QTest::newRow("lighting step of +20%, oak desk and cover") << Script(oak).still(30).with(bright, 60).views()
                                                               << QVector<int>{};
    BookView lamp = oak;
    lamp.tint = {0.9, 1.0, 1.15}; // a warm lamp switched on
    QTest::newRow("warm lamp switched on over an oak desk, then a turn")
        << Script(oak).still(30).views() + Script(lamp).still(40).turn(6, 10, 6).still(20).views()
        << QVector<int>{1};

    // Desks and covers inside the skin colours never hold a shot; hands of
    // every tone still do while they rest on the new page.
    const struct {
        int desk, skin;
        bool cover;
    } cases[] = {{1, 0, true}, {1, 5, false}, {4, 3, false}, {2, 4, true}, {3, 5, false}, {0, 1, true}};
    for (const auto &c : cases) {
        BookView look;
        look.desk = deskKinds()[c.desk].surface;
        look.skin = skinTones()[c.skin].bgr;
        look.cover = c.cover;
        QTest::addRow("%s desk%s, %s hand", deskKinds()[c.desk].name, c.cover ? " with a cover" : "",
                      skinTones()[c.skin].name)
            << Script(look).still(20).turn(5, 8, 0).handRests(40).still(20).turn(6, 10, 6).still(20).views()
            << QVector<int>{1, 2};
    }
}

void TestPageTurnDetector::shotsOnDrawnSequences()
{
    QFETCH(QVector<BookView>, views);
    QFETCH(QVector<int>, shotPages);

    PageTurnDetector detector;
    Frames frames(views);
    QVector<int> shots;
    for (int i = 0; i < views.size(); ++i) {
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
    const QVector<BookView> views = Script().still(20).turn(4, 6, 4).still(30).views();
    auto frames = [views](int i) { return drawBookView(kFrameSize, views[std::min(i, views.size() - 1)], i + 1); };

    ImageProcessing engine;
    engine.setFrameSourceFactory(scriptedFactory(std::make_shared<ScriptedLog>(), frames));
    std::atomic<int> read{0}, turned{0};
    connect(&engine, &ImageProcessing::sendFarmeSignal, this, [&read](QImage) { ++read; }, Qt::DirectConnection);
    connect(&engine, &ImageProcessing::pageTurnedSignal, this, [&turned] { ++turned; }, Qt::DirectConnection);
    engine.setWatchPageTurns(watch);
    engine.begin();
    engine.openCamara();
    QTRY_VERIFY_WITH_TIMEOUT(read.load() > views.size() + 10, 60000);
    engine.end();
    QCOMPARE(turned.load(), turns);
}

QTEST_GUILESS_MAIN(TestPageTurnDetector)
#include "test_pageturndetector.moc"
