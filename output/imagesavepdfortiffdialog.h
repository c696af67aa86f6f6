#pragma once

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

#include "engine/photonaming.h"

#include <memory>

class OcrQueue;
class ThumbnailLoader;
class QLabel;
class QProgressDialog;
class QThread;
class Ui_ImageSavePDFOrTiffDialog;
struct DocumentOutcome;
struct OcrLine;

// "PDF/TIFF拍摄": collects photographs as they are taken and writes them, in
// order of arrival, into one multi-page PDF (or TIFF) file.
class ImageSavePDFOrTiffDialog : public QDialog {
    Q_OBJECT

public:
    explicit ImageSavePDFOrTiffDialog(QWidget *parent = nullptr);
    // Stops recognition without writing anything; waits for a document
    // still being written.
    ~ImageSavePDFOrTiffDialog() override;

    // Empties the collection back to the four form labels; refused (false)
    // while a document is being read or written.
    bool init();
    // Appends the photographs to the collection.
    void setImage(QList<QString> paths);
    // Whether a page turned under the camera is to be shot now: the
    // "翻页自动拍摄" switch is on and the dialog is shown.
    bool isWatchingPageTurns() const;
    // A document is being recognised or written.
    bool isBusy() const { return m_writer || m_ocr; }
    // Shows the two switches as the settings store holds them (after
    // "默认设置"), without storing them again.
    void refreshSwitches();

signals:
    void takePhotoSignals();
    void saveImageMergingSignals(QList<QString> paths, int kind);
    // isWatchingPageTurns() has changed.
    void watchPageTurnsSignal(bool on);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private slots:
    void on_btnPhoto_clicked();
    void on_btnClose_clicked();
    void on_btnSavePDF_clicked();
    void on_btnSaveTiff_clicked();
    void on_btnDel_clicked();
    void on_checkAutoCapture_toggled(bool checked);
    void on_checkOcr_toggled(bool checked);

private:
    enum class DocumentKind { Pdf, Tiff };

    // What the user clicked for: the pages collected then and the name chosen then.
    struct Job {
        DocumentKind kind = DocumentKind::Pdf;
        QStringList sources;
        ReservedName name;
    };

    void saveDocument(DocumentKind kind);
    void recogniseThenWrite();
    void cancelRecognition();
    void writeDocument(const QVector<QList<OcrLine>> &textLayers);
    void setBusy(bool busy);
    void announceWatching();
    void documentWritten(const DocumentOutcome &outcome);
    QLabel *slotLabel(int number) const;
    QLabel *placeSlot(int number, const QPixmap &picture);
    void clearSlot(int number);
    void thumbnailLoaded(quint64 ticket, const QImage &picture);
    void removeOldest(int count);
    void warn(const QString &message);

    std::unique_ptr<Ui_ImageSavePDFOrTiffDialog> m_ui;
    int m_index = 1;
    QList<QString> m_paths;
    // The thumbnail each collected path waits for or has been given.
    QList<quint64> m_tickets;
    ThumbnailLoader *m_thumbnails = nullptr;
    Job m_job;
    QThread *m_writer = nullptr;
    QProgressDialog *m_progress = nullptr;
    OcrQueue *m_ocr = nullptr;
    // Pages whose text could not be read, for the user once the document is written.
    QStringList m_unreadPages;
    bool m_announcedWatching = false;
};
