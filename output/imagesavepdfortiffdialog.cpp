#include "output/imagesavepdfortiffdialog.h"

#include "ui_imagesavepdfortiffdialog.h"

#include "app/cache.h"
#include "engine/ocrqueue.h"
#include "sanitizers/tsanhandover.h"
#include "documents/documentwriter.h"
#include "output/thumbnailloader.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QThread>

namespace {

// The four labels of the form; later ones are made and destroyed as needed.
constexpr int kFormSlots = 4;
const QSize kSlotMinimum(160, 160);
const QSize kSlotMaximum(160, 180);
const QString kSlotStyle = QStringLiteral("border-radius:3px;border:1px groove gray;padding:2px 4px;");
constexpr int kDocumentKind = 1;
// Short writes finish before the progress dialog would flash up.
constexpr int kProgressDelayMs = 300;

} // namespace

ImageSavePDFOrTiffDialog::ImageSavePDFOrTiffDialog(QWidget *parent)
    : QDialog(parent), m_ui(std::make_unique<Ui_ImageSavePDFOrTiffDialog>())
{
    m_ui->setupUi(this);
    m_ui->btnSaveTiff->hide();
    refreshSwitches();
    // Thumbnails are decoded away from the window, at about the label's size.
    m_thumbnails = new ThumbnailLoader(this);
    connect(m_thumbnails, &ThumbnailLoader::loaded, this, &ImageSavePDFOrTiffDialog::thumbnailLoaded);
}

ImageSavePDFOrTiffDialog::~ImageSavePDFOrTiffDialog()
{
    // Quitting during recognition writes nothing: nobody is left to ask for the document.
    if (m_ocr)
        m_ocr->cancel();
    if (m_writer) {
        m_writer->wait();
        delete m_writer;
    }
}

bool ImageSavePDFOrTiffDialog::isWatchingPageTurns() const
{
    return isVisible() && m_ui->checkAutoCapture->isChecked();
}

void ImageSavePDFOrTiffDialog::announceWatching()
{
    const bool watching = isWatchingPageTurns();
    if (watching == m_announcedWatching)
        return;
    m_announcedWatching = watching;
    emit watchPageTurnsSignal(watching);
}

void ImageSavePDFOrTiffDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    announceWatching();
}

void ImageSavePDFOrTiffDialog::hideEvent(QHideEvent *event)
{
    QDialog::hideEvent(event);
    announceWatching();
}

void ImageSavePDFOrTiffDialog::refreshSwitches()
{
    // The stored choices, without counting as a change that would store them.
    const ConfigValues settings = Cache::config->snapshot();
    {
        const QSignalBlocker autoCapture(m_ui->checkAutoCapture);
        const QSignalBlocker ocr(m_ui->checkOcr);
        m_ui->checkAutoCapture->setChecked(settings.pdfAutoCapture.value_or(false));
        m_ui->checkOcr->setChecked(settings.pdfOcr.value_or(false));
    }
    announceWatching();
}

// A changed switch is written at once, and alone: it is remembered even if
// the program does not end normally, and edits not yet saved stay unsaved.
void ImageSavePDFOrTiffDialog::on_checkAutoCapture_toggled(bool checked)
{
    Config &config = *Cache::config;
    config.update([checked](ConfigValues &v) { v.pdfAutoCapture = checked; });
    announceWatching();
    if (!config.saveKeys({config.keyPdfAutoCapture}))
        warn(tr("开关没有保存：无法写入 %1。").arg(QFileInfo(config.fileName).absoluteFilePath()));
}

void ImageSavePDFOrTiffDialog::on_checkOcr_toggled(bool checked)
{
    Config &config = *Cache::config;
    config.update([checked](ConfigValues &v) { v.pdfOcr = checked; });
    if (!config.saveKeys({config.keyPdfOcr}))
        warn(tr("开关没有保存：无法写入 %1。").arg(QFileInfo(config.fileName).absoluteFilePath()));
}

QLabel *ImageSavePDFOrTiffDialog::slotLabel(int number) const
{
    return findChild<QLabel *>(QStringLiteral("Image_%1").arg(number));
}

// The label of slot `number`, made when past the form's four, showing `picture`.
QLabel *ImageSavePDFOrTiffDialog::placeSlot(int number, const QPixmap &picture)
{
    QLabel *label = number <= kFormSlots ? slotLabel(number) : nullptr;
    if (number > kFormSlots) {
        label = new QLabel(m_ui->scrollAreaWidgetContents);
        label->setObjectName(QStringLiteral("Image_%1").arg(number));
        label->setMinimumSize(kSlotMinimum);
        label->setMaximumSize(kSlotMaximum);
        label->setAlignment(Qt::AlignCenter);
        label->setStyleSheet(kSlotStyle);
        m_ui->horizontalLayout_2->addWidget(label);
    }
    if (label) {
        label->setPixmap(picture);
        label->setScaledContents(true);
    }
    return label;
}

void ImageSavePDFOrTiffDialog::clearSlot(int number)
{
    QLabel *label = slotLabel(number);
    if (!label)
        return;
    if (number > kFormSlots) {
        m_ui->horizontalLayout_2->removeWidget(label);
        // Destroyed now, so that a new label of the same name is never shadowed.
        delete label;
    } else {
        label->setText(tr("Image"));
    }
}

bool ImageSavePDFOrTiffDialog::init()
{
    // The pages being read or written stay until written; the main window may reopen the dialog meanwhile.
    if (isBusy())
        return false;
    for (int number = m_index - 1; number >= 1; --number)
        clearSlot(number);
    m_index = 1;
    m_paths.clear();
    m_tickets.clear();
    return true;
}

void ImageSavePDFOrTiffDialog::setImage(QList<QString> paths)
{
    for (const QString &path : paths) {
        placeSlot(m_index, QPixmap());
        m_paths.append(path);
        m_tickets.append(m_thumbnails->load(path, kSlotMaximum));
        ++m_index;
    }
}

void ImageSavePDFOrTiffDialog::thumbnailLoaded(quint64 ticket, const QImage &picture)
{
    const int index = int(m_tickets.indexOf(ticket));
    if (index < 0)
        return; // deleted or written meanwhile
    if (QLabel *label = slotLabel(index + 1))
        label->setPixmap(QPixmap::fromImage(picture));
}

// Drops the `count` oldest photographs; the ones after them move up, thumbnails and all.
void ImageSavePDFOrTiffDialog::removeOldest(int count)
{
    QList<QPixmap> kept;
    for (int number = count + 1; number < m_index; ++number) {
        QLabel *label = slotLabel(number);
        kept << (label ? label->pixmap(Qt::ReturnByValue) : QPixmap());
    }
    const QList<QString> paths = m_paths.mid(count);
    const QList<quint64> tickets = m_tickets.mid(count);
    init();
    for (int i = 0; i < paths.size(); ++i)
        placeSlot(i + 1, kept[i]);
    m_paths = paths;
    m_tickets = tickets;
    m_index = int(paths.size()) + 1;
}

void ImageSavePDFOrTiffDialog::on_btnDel_clicked()
{
    if (m_index <= 1 || isBusy())
        return;
    const int newest = m_index - 1;
    m_index = newest;
    m_paths.removeLast();
    m_tickets.removeLast();
    clearSlot(newest);
}

void ImageSavePDFOrTiffDialog::on_btnPhoto_clicked()
{
    emit takePhotoSignals();
}

void ImageSavePDFOrTiffDialog::on_btnClose_clicked()
{
    if (!init())
        return;
    close();
}

void ImageSavePDFOrTiffDialog::on_btnSavePDF_clicked()
{
    saveDocument(DocumentKind::Pdf);
}

void ImageSavePDFOrTiffDialog::on_btnSaveTiff_clicked()
{
    saveDocument(DocumentKind::Tiff);
}

void ImageSavePDFOrTiffDialog::setBusy(bool busy)
{
    // Taking photographs goes on meanwhile; they join the collection after the pages being written.
    for (QWidget *button : {m_ui->btnDel, m_ui->btnSavePDF, m_ui->btnSaveTiff, m_ui->btnClose})
        button->setEnabled(!busy);
}

// The pages and the name are those of the click: photographs arriving while
// the document is read or written take later numbers and stay collected.
void ImageSavePDFOrTiffDialog::saveDocument(DocumentKind kind)
{
    if (isBusy())
        return;
    if (m_paths.isEmpty()) {
        warn(tr("没有图像"));
        return;
    }
    const ConfigValues settings = Cache::config->snapshot();
    const QString directory = QDir(settings.workDirectory()).absolutePath();
    const QString error = ensureDirectory(directory, SavedPicture::Document);
    if (!error.isEmpty()) {
        warn(error);
        return;
    }
    const QString suffix = kind == DocumentKind::Pdf ? QStringLiteral("pdf") : QStringLiteral("tiff");
    m_job.kind = kind;
    m_job.sources = m_paths;
    m_job.name = reserveName(
        configuredNames(settings, directory, suffix, [] { return Cache::config->takeNextNumber(); }));
    if (m_job.name.path.isEmpty()) {
        warn(tr("在“%1”中找不到可用的文件名，文件未保存").arg(directory));
        return;
    }
    m_unreadPages.clear();
    if (kind == DocumentKind::Pdf && m_ui->checkOcr->isChecked())
        recogniseThenWrite();
    else
        writeDocument({});
}

// Reads the text of every page in worker processes, then writes the PDF with
// it; a page whose text cannot be read goes in without text.
void ImageSavePDFOrTiffDialog::recogniseThenWrite()
{
    const int total = int(m_job.sources.size());
    m_progress = new QProgressDialog(tr("正在识别文字……"), tr("取消"), 0, total, this);
    m_progress->setWindowTitle(windowTitle());
    m_progress->setWindowModality(Qt::WindowModal);
    m_progress->setMinimumDuration(kProgressDelayMs);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    m_progress->setValue(0);
    // Esc on the box cancels as its button does, rather than only hiding it.
    connect(m_progress, &QProgressDialog::canceled, this, &ImageSavePDFOrTiffDialog::cancelRecognition);
    connect(m_progress, &QDialog::rejected, this, &ImageSavePDFOrTiffDialog::cancelRecognition);
    setBusy(true);

    m_ocr = new OcrQueue(this);
    connect(m_ocr, &OcrQueue::pageFinished, this, [this, total] {
        if (m_progress) {
            m_progress->setLabelText(tr("正在识别文字 %1/%2 页……").arg(m_ocr->pagesDone()).arg(total));
            m_progress->setValue(m_ocr->pagesDone());
        }
    });
    connect(m_ocr, &OcrQueue::finished, this, [this] {
        QVector<QList<OcrLine>> layers;
        for (int i = 0; i < m_job.sources.size(); ++i) {
            const OcrPage &page = m_ocr->page(i);
            layers.append(page.lines);
            if (!page.ok)
                m_unreadPages << tr("第 %1 页（%2）：%3")
                                     .arg(i + 1)
                                     .arg(QFileInfo(m_job.sources[i]).fileName(), page.error);
        }
        m_ocr->deleteLater();
        m_ocr = nullptr;
        delete m_progress;
        m_progress = nullptr;
        writeDocument(layers);
    });
    m_ocr->start(m_job.sources);
}

// Stops recognition and writes nothing; the collection stays for another try.
void ImageSavePDFOrTiffDialog::cancelRecognition()
{
    if (!m_ocr)
        return;
    m_ocr->cancel();
    m_ocr->deleteLater();
    m_ocr = nullptr;
    // Called from the box's own signal: it goes once that has returned.
    m_progress->hide();
    m_progress->deleteLater();
    m_progress = nullptr;
    m_unreadPages.clear();
    setBusy(false);
}

void ImageSavePDFOrTiffDialog::writeDocument(const QVector<QList<OcrLine>> &textLayers)
{
    const Job job = m_job;
    const int total = int(job.sources.size());
    const QString directory = QFileInfo(job.name.path).absolutePath();
    m_progress = new QProgressDialog(tr("正在写入 %1 页……").arg(total), QString(), 0, total, this);
    m_progress->setWindowTitle(windowTitle());
    m_progress->setWindowModality(Qt::WindowModal);
    m_progress->setMinimumDuration(kProgressDelayMs);
    m_progress->setValue(0);
    setBusy(true);

    // Reported from the writer thread; queued to this dialog, so a report
    // arriving after the dialog is gone is dropped.
    const PageProgress progress = [this](int done, int all) {
        tsanhandover::CrossThreadEmit handOver;
        QMetaObject::invokeMethod(
            this,
            [this, done, all] {
                if (m_progress) {
                    m_progress->setLabelText(tr("正在写入第 %1/%2 页……").arg(done).arg(all));
                    m_progress->setValue(done);
                }
            },
            Qt::QueuedConnection);
    };
    m_writer = QThread::create([=] {
        DocumentOutcome written;
        try {
            written = job.kind == DocumentKind::Pdf
                          ? writePdfAsNewFile(job.sources, directory, job.name.candidates, progress, textLayers,
                                              QFileInfo(job.name.path).fileName())
                          : writeTiffAsNewFile(job.sources, directory, job.name.candidates, progress);
        } catch (...) {
            // The writers report their own failures; this is the last guard of the thread.
            written = DocumentOutcome();
            written.error = tr("写入文件时出错，文件未保存");
        }
        // The writer hands over its outcome itself, rather than through
        // finished(), so that the whole hand-over is ours; the dialog then
        // joins the thread, which has nothing left to do.
        tsanhandover::CrossThreadEmit handOver;
        QMetaObject::invokeMethod(
            this,
            [this, written] {
                m_writer->wait();
                delete m_writer;
                m_writer = nullptr;
                documentWritten(written);
            },
            Qt::QueuedConnection);
    });
    m_writer->start();
}

void ImageSavePDFOrTiffDialog::documentWritten(const DocumentOutcome &outcome)
{
    delete m_progress;
    m_progress = nullptr;
    setBusy(false);
    if (!outcome.error.isEmpty()) {
        // The collection stays, so the user can try again.
        m_unreadPages.clear();
        warn(outcome.error);
        return;
    }
    // Only the pages written leave; photographs taken meanwhile stay collected.
    removeOldest(int(m_job.sources.size()));
    emit saveImageMergingSignals({outcome.path}, kDocumentKind);
    QStringList withoutText = m_unreadPages;
    m_unreadPages.clear();
    for (const SourceProblem &page : outcome.withoutText)
        withoutText << tr("第 %1 页（%2）：%3").arg(page.index + 1).arg(QFileInfo(page.path).fileName(), page.reason);
    if (!outcome.leftOut.isEmpty())
        warn(leftOutMessage(outcome.leftOut));
    if (!withoutText.isEmpty())
        warn(tr("以下页面未能识别文字，已不带文字保存：\n%1").arg(withoutText.join(QLatin1Char('\n'))));
    if (m_paths.isEmpty())
        close();
}

void ImageSavePDFOrTiffDialog::warn(const QString &message)
{
    QMessageBox::warning(this, tr("警告"), message, QMessageBox::Ok);
}
