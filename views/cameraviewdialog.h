#pragma once

#include <QDialog>
#include <QImage>

#include <memory>

class QCameraView;
class Ui_CameraViewDialog;

// The "画中画" dialog: a second camera's live picture beside the main window,
// with a loading notice shown while that camera opens.
class CameraViewDialog : public QDialog {
    Q_OBJECT

public:
    explicit CameraViewDialog(QWidget *parent = nullptr);
    ~CameraViewDialog() override;

    // Opens the camera with this index, capped to the picture-in-picture size.
    void SetCamera(int index);
    // The picture shown now; null before the camera's first picture.
    QImage getChildImage() const;
    QCameraView *view() const;

signals:
    void closeView(bool open);

public slots:
    void openCamera();
    void closeCamera();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    std::unique_ptr<Ui_CameraViewDialog> m_ui;
};
