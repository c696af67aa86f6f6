#include "app/allocator.h"
#include "app/cache.h"
#include "app/commandline.h"
#include "app/deviceprobe.h"
#include "app/logging.h"
#include "app/translations.h"
#include "mainwindow/startup.h"

#include <QApplication>
#include <QTextCodec>

#include <cstdio>

namespace {

// Prints what the command line asked for; the exit code that goes with it.
int answer(const CommandLineRequest &request)
{
    const bool failed = request.action == CommandLineRequest::Action::Fail;
    std::fputs(request.text.toLocal8Bit().constData(), failed ? stderr : stdout);
    return failed ? 1 : 0;
}

} // namespace

int main(int argc, char *argv[])
{
    quietDebugLines();
    QCoreApplication::setApplicationName(QStringLiteral("vorlant"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VORLANT_VERSION));
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));

    // Help and version must work without a display, so no GUI application for them.
    if (asksForTextOnly(argc, argv)) {
        QCoreApplication app(argc, argv);
        InterfaceLanguage language;
        language.install(QLocale::system(), programTranslationsDirectory());
        return answer(parseCommandLine(QCoreApplication::arguments()));
    }

    tuneAllocatorForFrames();
    QApplication app(argc, argv);
    InterfaceLanguage language;
    language.install(QLocale::system(), programTranslationsDirectory());
    // The GUI application has taken its own options (-platform, -style, ...) out by now.
    const CommandLineRequest request = parseCommandLine(QCoreApplication::arguments());
    if (request.action != CommandLineRequest::Action::Run)
        return answer(request);

    Cache::create();
    SystemDeviceProbe probe;
    return runVorlant(app, probe, request.cameraFiles);
}
