#include "mainwindow/placeholderwindow.h"

#include "app/cache.h"
#include "mainwindow/startup.h"
#include "views/qcameraview.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

PlaceholderWindow::PlaceholderWindow(QWidget *parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("vorlant"));
    resize(1000, 800);
    auto *layout = new QVBoxLayout(this);

    m_video = new QCameraView(this);
    m_video->setObjectName(QStringLiteral("video"));
    m_video->setStyleSheet(QStringLiteral("border:0.5px solid gray;"));
    layout->addWidget(m_video, 1);

    auto *bar = new QHBoxLayout();
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    bar->addWidget(m_status, 1);
    m_record = new QPushButton(QStringLiteral("录像"), this);
    m_record->setObjectName(QStringLiteral("btnShootingVideo"));
    bar->addWidget(m_record);
    auto *shoot = new QPushButton(QStringLiteral("拍摄"), this);
    shoot->setObjectName(QStringLiteral("btnShooting"));
    bar->addWidget(shoot);
    layout->addLayout(bar);

    connect(shoot, &QPushButton::clicked, this, [this] { m_video->setTakePhotoCammond({}, {}, false, false); });
    connect(m_record, &QPushButton::clicked, this, &PlaceholderWindow::toggleRecording);
    connect(m_video, &QCameraView::sendTakePhotoImageSignal, this, &PlaceholderWindow::showResults);
    connect(m_video, &QCameraView::warningSignal, this, [this](const QString &message) {
        // A recording that failed has ended by itself.
        m_record->setText(m_video->isRecording() ? QStringLiteral("停止") : QStringLiteral("录像"));
        QMessageBox::warning(this, QStringLiteral("警告"), message);
    });

    // A stored camera index beyond the cameras found now starts on the first one.
    Config *config = Cache::config;
    if (config->cameraIndex < 0 || config->cameraIndex >= Cache::cameras->size())
        config->update([](ConfigValues &v) { v.cameraIndex = 0; });
    m_video->init(config->cameraIndex);
}

PlaceholderWindow::~PlaceholderWindow()
{
    Cache::config->save();
}

void PlaceholderWindow::toggleRecording()
{
    if (m_video->isRecording()) {
        m_video->recordEnd();
        m_record->setText(QStringLiteral("录像"));
        return;
    }
    if (m_video->isOpening()) {
        QMessageBox::warning(this, QStringLiteral("警告"), QStringLiteral("摄像头正在打开，请稍候再录像！"));
        return;
    }
    m_video->recordBegin();
    if (m_video->isRecording())
        m_record->setText(QStringLiteral("停止"));
}

void PlaceholderWindow::showResults(const QList<QString> &paths, int)
{
    QStringList names;
    for (const QString &path : paths)
        names << QFileInfo(path).fileName();
    m_status->setText(names.join(QStringLiteral(", ")));
}

QWidget *createMainWindow()
{
    return new PlaceholderWindow();
}
