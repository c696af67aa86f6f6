#pragma once

#include <QDialog>
#include <QList>
#include <QString>

#include <memory>

class ThumbnailLoader;
class Ui_ImageMergingDialog;

// "图像合并": two photographs, placed as they are taken, joined side by side or
// one above the other into one new image file.
class ImageMergingDialog : public QDialog {
    Q_OBJECT

public:
    explicit ImageMergingDialog(QWidget *parent = nullptr);
    ~ImageMergingDialog() override;

    // Empties both slots; the next photograph goes to the first slot again.
    void init();
    // Places the photographs into the slots alternately.
    void setImage(QList<QString> paths);

signals:
    void takePhotoSignals();
    void saveImageMergingSignals(QList<QString> paths, int kind);

private slots:
    void on_btnUpDown_clicked();
    void on_btnLeftRight_clicked();
    void on_btnSave_clicked();
    void on_btnPhoto_clicked();

private:
    void arrange(bool sideBySide);
    void warn(const QString &message);

    std::unique_ptr<Ui_ImageMergingDialog> m_ui;
    int m_count = 0;
    QString m_firstImagePath;
    QString m_secondImagePath;
    ThumbnailLoader *m_thumbnails = nullptr;
    // The previews on their way; a later photograph in the same slot replaces its ticket.
    quint64 m_firstTicket = 0;
    quint64 m_secondTicket = 0;
};
