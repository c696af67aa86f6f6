// Saves the whole screen of $DISPLAY, or one window of it, as a PNG, for the
// whole-program tests and scripts/screenshot.sh.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s OUTPUT.png [WINDOW-ID]\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return 1;
    const WId window = argc == 3 ? QString::fromLatin1(argv[2]).toULongLong() : 0;
    return screen->grabWindow(window).save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
