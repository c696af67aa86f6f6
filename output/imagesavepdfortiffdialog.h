#pragma once

#include <QDialog>
#include <QList>
#include <QString>

#include <memory>

class QLabel;
class QProgressDialog;
class QThread;
class Ui_ImageSavePDFOrTiffDialog;
struct DocumentOutcome;

// "PDF/TIFF拍摄": collects photographs as they are taken and writes them, in
// order of arrival, into one multi-page PDF (or TIFF) file.
class ImageSavePDFOrTiffDialog : public QDialog {
    Q_OBJECT

public:
    explicit ImageSavePDFOrTiffDialog(QWidget *parent = nullptr);
    // Waits for a document still being written.
    ~ImageSavePDFOrTiffDialog() override;

    // Empties the collection back to the four form labels.
    void init();
    // Appends the photographs to the collection.
    void setImage(QList<QString> paths);

signals:
    void takePhotoSignals();
    void saveImageMergingSignals(QList<QString> paths, int kind);

private slots:
    void on_btnPhoto_clicked();
    void on_btnClose_clicked();
    void on_btnSavePDF_clicked();
    void on_btnSaveTiff_clicked();
    void on_btnDel_clicked();

private:
    enum class DocumentKind { Pdf, Tiff };

    void saveDocument(DocumentKind kind);
    void documentWritten(const DocumentOutcome &outcome);
    QLabel *slotLabel(int number) const;
    void clearSlot(int number);
    void warn(const QString &message);

    std::unique_ptr<Ui_ImageSavePDFOrTiffDialog> m_ui;
    int m_index = 1;
    QList<QString> m_paths;
    QThread *m_writer = nullptr;
    QProgressDialog *m_progress = nullptr;
};
