// A planted race for the ThreadSanitizer build: a QThread and the GUI thread
// use one plain int with nothing ordering them. CTest passes this program only
// when ThreadSanitizer reports the race under the project's suppressions, so a
// suppression that hides races between our own threads fails the suite.
#include <QGuiApplication>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdio>

namespace {

constexpr int kCanaryRunMs = 300;
constexpr int kReadEveryMs = 1;

volatile int g_shared = 0;
std::atomic<bool> g_stop{false};

class Writer : public QThread {
protected:
    void run() override
    {
        // Relaxed: the flag must not order the int, or there is no race to find.
        while (!g_stop.load(std::memory_order_relaxed))
            g_shared = g_shared + 1;
    }
};

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    Writer writer;
    writer.start();
    int seen = 0;
    // Read inside the event loop, as a slot of the GUI thread would.
    QTimer reader;
    QObject::connect(&reader, &QTimer::timeout, [&seen] { seen = g_shared; });
    reader.start(kReadEveryMs);
    QTimer::singleShot(kCanaryRunMs, &app, &QCoreApplication::quit);
    app.exec();
    g_stop.store(true, std::memory_order_relaxed);
    writer.wait();
    std::printf("canary read %d\n", seen);
    return 0;
}
