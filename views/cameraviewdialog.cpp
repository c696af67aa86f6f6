#include "views/cameraviewdialog.h"

#include "ui_cameraviewdialog.h"

#include "views/qcameraview.h"

#include <QCloseEvent>

CameraViewDialog::CameraViewDialog(QWidget *parent)
    : QDialog(parent), m_ui(std::make_unique<Ui_CameraViewDialog>())
{
    m_ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    connect(m_ui->iVideo, &QCameraView::openCameraSignal, this, &CameraViewDialog::openCamera);
    connect(m_ui->iVideo, &QCameraView::closeCameraSignal, this, &CameraViewDialog::closeCamera);
}

CameraViewDialog::~CameraViewDialog() = default;

void CameraViewDialog::SetCamera(int index)
{
    m_ui->iVideo->init(index);
    m_ui->iVideo->changeCameraResolution(true, false);
}

QImage CameraViewDialog::getChildImage() const
{
    return m_ui->iVideo->fullSizeImage();
}

QCameraView *CameraViewDialog::view() const
{
    return m_ui->iVideo;
}

void CameraViewDialog::openCamera()
{
    m_ui->label->hide();
}

void CameraViewDialog::closeCamera()
{
    m_ui->label->show();
}

void CameraViewDialog::closeEvent(QCloseEvent *event)
{
    m_ui->iVideo->closeCamara();
    event->accept();
    // Still visible here: the main window counts on that to see whether the other dialog is open.
    emit closeView(false);
}
