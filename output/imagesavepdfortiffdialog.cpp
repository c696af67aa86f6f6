#include "output/imagesavepdfortiffdialog.h"

#include "ui_imagesavepdfortiffdialog.h"

#include "app/cache.h"
#include "engine/ocrqueue.h"
#include "sanitizers/tsanhandover.h"
#include "documents/documentwriter.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
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

// A thumbnail decoded at about the label's size: a collection of dozens of
// photographs keeps a few kilobytes per label rather than a full picture.
QPixmap thumbnail(const QString &path)
{
    QImageReader reader(path);
    const QSize size = reader.size();
    if (size.isValid())
        reader.setScaledSize(size.scaled(kSlotMaximum, Qt::KeepAspectRatio));
    return QPixmap::fromImage(reader.read());
}

} // namespace

ImageSavePDFOrTiffDialog::ImageSavePDFOrTiffDialog(QWidget *parent)
    : QDialog(parent), m_ui(std::make_unique<Ui_ImageSavePDFOrTiffDialog>())
{
    m_ui->setupUi(this);
    m_ui->btnSaveTiff->hide();
    refreshSwitches();
}

ImageSavePDFOrTiffDialog::~ImageSavePDFOrTiffDialog()
{
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

void ImageSavePDFOrTiffDialog::init()
{
    for (int number = m_index - 1; number >= 1; --number)
        clearSlot(number);
    m_index = 1;
    m_paths.clear();
}

void ImageSavePDFOrTiffDialog::setImage(QList<QString> paths)
{
    for (const QString &path : paths) {
        const QPixmap picture = thumbnail(path);
        if (m_index <= kFormSlots) {
            if (QLabel *label = slotLabel(m_index)) {
                label->setPixmap(picture);
                label->setScaledContents(true);
            }
        } else {
            auto *label = new QLabel(m_ui->scrollAreaWidgetContents);
            label->setObjectName(QStringLiteral("Image_%1").arg(m_index));
            label->setMinimumSize(kSlotMinimum);
            label->setMaximumSize(kSlotMaximum);
            label->setAlignment(Qt::AlignCenter);
            label->setStyleSheet(kSlotStyle);
            label->setPixmap(picture);
            label->setScaledContents(true);
            m_ui->horizontalLayout_2->addWidget(label);
        }
        m_paths.append(path);
        ++m_index;
    }
}

void ImageSavePDFOrTiffDialog::on_btnDel_clicked()
{
    if (m_index <= 1 || isBusy())
        return;
    const int newest = m_index - 1;
    m_index = newest;
    m_paths.removeLast();
    clearSlot(newest);
}

void ImageSavePDFOrTiffDialog::on_btnPhoto_clicked()
{
    emit takePhotoSignals();
}

void ImageSavePDFOrTiffDialog::on_btnClose_clicked()
{
    init();
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

void ImageSavePDFOrTiffDialog::saveDocument(DocumentKind kind)
{
    if (isBusy())
        return;
    if (m_paths.isEmpty()) {
        warn(tr("没有图像"));
        return;
    }
    m_unreadPages.clear();
    if (kind == DocumentKind::Pdf && m_ui->checkOcr->isChecked())
        recogniseThenWrite();
    else
        writeDocument(kind, {});
}

// Reads the text of every page in worker processes, then writes the PDF with
// it; a page whose text cannot be read goes in without text.
void ImageSavePDFOrTiffDialog::recogniseThenWrite()
{
    const QStringList sources = m_paths;
    const int total = int(sources.size());
    m_progress = new QProgressDialog(tr("正在识别文字……"), QString(), 0, total, this);
    m_progress->setWindowTitle(windowTitle());
    m_progress->setWindowModality(Qt::WindowModal);
    m_progress->setMinimumDuration(kProgressDelayMs);
    m_progress->setValue(0);
    m_ui->frame_2->setEnabled(false);

    m_ocr = new OcrQueue(this);
    connect(m_ocr, &OcrQueue::pageFinished, this, [this, total] {
        if (m_progress) {
            m_progress->setLabelText(tr("正在识别文字 %1/%2 页……").arg(m_ocr->pagesDone()).arg(total));
            m_progress->setValue(m_ocr->pagesDone());
        }
    });
    connect(m_ocr, &OcrQueue::finished, this, [this, sources] {
        QVector<QList<OcrLine>> layers;
        for (int i = 0; i < sources.size(); ++i) {
            const OcrPage &page = m_ocr->page(i);
            layers.append(page.lines);
            if (!page.ok)
                m_unreadPages << tr("第 %1 页（%2）：%3").arg(i + 1).arg(QFileInfo(sources[i]).fileName(), page.error);
        }
        m_ocr->deleteLater();
        m_ocr = nullptr;
        delete m_progress;
        m_progress = nullptr;
        writeDocument(DocumentKind::Pdf, layers);
    });
    m_ocr->start(sources);
}

void ImageSavePDFOrTiffDialog::writeDocument(DocumentKind kind, const QVector<QList<OcrLine>> &textLayers)
{
    const ConfigValues settings = Cache::config->snapshot();
    const QString directory = QDir(settings.workDirectory()).absolutePath();
    const QString suffix = kind == DocumentKind::Pdf ? QStringLiteral("pdf") : QStringLiteral("tiff");
    const NameCandidates names =
        configuredNames(settings, directory, suffix, [] { return Cache::config->takeNextNumber(); });
    const QStringList sources = m_paths;
    const int total = int(sources.size());

    m_progress = new QProgressDialog(tr("正在写入 %1 页……").arg(total), QString(), 0, total, this);
    m_progress->setWindowTitle(windowTitle());
    m_progress->setWindowModality(Qt::WindowModal);
    m_progress->setMinimumDuration(kProgressDelayMs);
    m_progress->setValue(0);
    m_ui->frame_2->setEnabled(false);

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
        const DocumentOutcome written = kind == DocumentKind::Pdf
                                            ? writePdfAsNewFile(sources, directory, names, progress, textLayers)
                                            : writeTiffAsNewFile(sources, directory, names, progress);
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
    m_ui->frame_2->setEnabled(true);
    if (!outcome.error.isEmpty()) {
        // The collection stays, so the user can try again.
        warn(outcome.error);
        return;
    }
    if (!outcome.leftOut.isEmpty())
        warn(leftOutMessage(outcome.leftOut));
    if (!m_unreadPages.isEmpty())
        warn(tr("以下页面未能识别文字，已不带文字保存：\n%1").arg(m_unreadPages.join(QLatin1Char('\n'))));
    m_unreadPages.clear();
    emit saveImageMergingSignals({outcome.path}, kDocumentKind);
    init();
    close();
}

void ImageSavePDFOrTiffDialog::warn(const QString &message)
{
    QMessageBox::warning(this, tr("警告"), message, QMessageBox::Ok);
}
