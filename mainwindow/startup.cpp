#include "mainwindow/startup.h"

#include "app/cache.h"
#include "app/discovery.h"
#include "app/logging.h"
#include "app/runninginstance.h"
#include "app/terminationsignals.h"
#include "recording/leftovers.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QImageWriter>
#include <QMessageBox>
#include <QPixmap>
#include <QSplashScreen>

#include <memory>

int runVorlant(QApplication &app, DeviceProbe &probe, const std::optional<QString> &cameraFiles)
{
    // Made first, so that a signal during start-up ends it as well. Ending
    // is closing every window: the main window completes a recording, stops
    // timed shooting and writes the settings as it goes.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &app, [] {
        QApplication::closeAllWindows();
        QCoreApplication::quit();
    });

    qCDebug(lcStartup) << "this is vorlant program";
    qCDebug(lcStartup) << QApplication::applicationDirPath();

    Cache::cameras->append(discoverAll(probe, cameraFiles));
    Config *config = Cache::config;
    config->appDirPath = QApplication::applicationDirPath();

    if (Cache::cameras->isEmpty()) {
        QMessageBox::warning(nullptr, QCoreApplication::translate("Startup", "警告"),
                             QCoreApplication::translate("Startup", "未检测到设备，请检查设备是否已经连接！"),
                             QMessageBox::Ok);
        return -1;
    }

    config->outputSizes = standardOutputSizes();
    for (const QByteArray &format : QImageWriter::supportedImageFormats())
        config->imageFormats.append(QString::fromLatin1(format));

    // What a crash left in the work folder is looked for before this run can
    // add anything there; another copy's work in progress is left alone.
    const RunningInstance running;
    const QString workFolder = QDir(config->snapshot().workDirectory()).absolutePath();
    LeftoverRecovery recovery(findLeftovers(workFolder, QDateTime::currentDateTime(), running.othersRunning()));

    auto splash = std::make_unique<QSplashScreen>();
    splash->setPixmap(QPixmap(config->appDirPath + QStringLiteral("/Resources/vorlant.png")));
    splash->show();
    splash->setFont(QFont(QStringLiteral("Helvetica"), 9));
    app.processEvents();

    std::unique_ptr<QWidget> window(createMainWindow());
    window->show();
    splash->finish(window.get());
    splash.reset();

    QObject::connect(&recovery, &LeftoverRecovery::finishedSignal, window.get(), [&recovery, &window] {
        const QString message = recoveryMessage(recovery.report());
        if (!message.isEmpty())
            QMessageBox::warning(window.get(), QCoreApplication::translate("MainWindowQCamera", "警告"), message);
    });
    recovery.start();

    // A signal that came before the event loop could hear it.
    const int result = TerminationSignals::received() ? 0 : app.exec();
    window.reset();
    return result;
}
