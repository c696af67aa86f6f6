#include "mainwindow/placeholderwindow.h"

#include "app/cache.h"
#include "mainwindow/startup.h"

#include <QLabel>
#include <QVBoxLayout>

PlaceholderWindow::PlaceholderWindow(QWidget *parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("vorlant"));
    resize(1000, 750);
    auto *layout = new QVBoxLayout(this);
    QStringList names;
    for (const CameraInfo &camera : *Cache::cameras)
        names << camera.name;
    auto *label = new QLabel(QStringLiteral("Cameras: %1").arg(names.join(QStringLiteral(", "))), this);
    label->setObjectName(QStringLiteral("cameraList"));
    layout->addWidget(label);
}

PlaceholderWindow::~PlaceholderWindow()
{
    Cache::config->save();
}

QWidget *createMainWindow()
{
    return new PlaceholderWindow();
}
