#include "mainwindow/startup.h"

#include "app/cache.h"
#include "app/discovery.h"

#include <QApplication>
#include <QDebug>
#include <QImageWriter>
#include <QMessageBox>
#include <QPixmap>
#include <QSplashScreen>

#include <memory>

int runVorlant(QApplication &app, DeviceProbe &probe, const std::optional<QString> &cameraFiles)
{
    qDebug() << "this is vorlant program";
    qDebug() << QApplication::applicationDirPath();

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

    auto splash = std::make_unique<QSplashScreen>();
    splash->setPixmap(QPixmap(config->appDirPath + QStringLiteral("/Resources/vorlant.png")));
    splash->show();
    splash->setFont(QFont(QStringLiteral("Helvetica"), 9));
    app.processEvents();

    std::unique_ptr<QWidget> window(createMainWindow());
    window->show();
    splash->finish(window.get());
    splash.reset();

    const int result = app.exec();
    window.reset();
    return result;
}
