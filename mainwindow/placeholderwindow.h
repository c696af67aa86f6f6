#pragma once

#include <QWidget>

class QCameraView;
class QLabel;
class QPushButton;

// Stands in for the full main window until it is built: shows the main
// camera's live picture, takes photographs and recordings, shows every
// failure in a warning box, and writes the settings when it is destroyed.
class PlaceholderWindow : public QWidget {
    Q_OBJECT
public:
    explicit PlaceholderWindow(QWidget *parent = nullptr);
    ~PlaceholderWindow() override;

private:
    void showResults(const QList<QString> &paths, int kind);
    void toggleRecording();

    QCameraView *m_video = nullptr;
    QLabel *m_status = nullptr;
    QPushButton *m_record = nullptr;
};
