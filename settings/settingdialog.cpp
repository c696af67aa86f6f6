#include "settings/settingdialog.h"

#include "ui_settingdialog.h"

#include "app/cache.h"
#include "engine/watermark.h"

#include <QButtonGroup>
#include <QColorDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QMessageBox>

namespace {

// Button ids, which are also the stored values of `save/type` and `watermark/time`.
constexpr int kNumberedNames = 0;
constexpr int kTimedNames = 1;
constexpr int kTextWatermark = 0;
constexpr int kTimeWatermark = 1;

void fillSizes(QComboBox *box, const QList<QSize> &sizes)
{
    box->clear();
    for (const QSize &size : sizes)
        box->addItem(QStringLiteral("%1x%2").arg(size.width()).arg(size.height()), size);
}

// An index that fits no entry shows the first one, so that saving never stores -1.
void selectIndex(QComboBox *box, int index)
{
    box->setCurrentIndex(index >= 0 && index < box->count() ? index : 0);
}

// An empty list (no camera, no sizes known yet) keeps the stored index.
int chosenIndex(const QComboBox *box, int stored)
{
    return box->count() > 0 ? box->currentIndex() : stored;
}

int decimalOrZero(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

QString percentText(int value)
{
    return QString::number(value) + QLatin1Char('%');
}

std::optional<QColor> standardColorChooser(QWidget *parent, const QColor &initial)
{
    const QColor colour = QColorDialog::getColor(initial, parent);
    if (!colour.isValid())
        return std::nullopt;
    return colour;
}

std::optional<QFont> standardFontChooser(QWidget *parent, const QFont &initial)
{
    bool ok = false;
    const QFont font = QFontDialog::getFont(&ok, initial, parent);
    if (!ok)
        return std::nullopt;
    return font;
}

} // namespace

SettingDialog::SettingDialog(QWidget *parent)
    : QDialog(parent), m_ui(std::make_unique<Ui_SettingDialog>()), m_colorChooser(standardColorChooser),
      m_fontChooser(standardFontChooser)
{
    m_ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    m_saveNameGroup = new QButtonGroup(this);
    m_saveNameGroup->addButton(m_ui->radioButton_File, kNumberedNames);
    m_saveNameGroup->addButton(m_ui->radioButton_Time, kTimedNames);
    m_watermarkKindGroup = new QButtonGroup(this);
    m_watermarkKindGroup->addButton(m_ui->radioButton_watermark_text, kTextWatermark);
    m_watermarkKindGroup->addButton(m_ui->radioButton_watermark_time, kTimeWatermark);

    m_ui->checkBox_SavePdfSourceBox->hide();
    m_ui->checkBox_SaveMergeSourceImageBox->hide();
    m_ui->btnVideoSetting->hide();
}

SettingDialog::~SettingDialog() = default;

void SettingDialog::setColorChooser(ColorChooser chooser)
{
    m_colorChooser = std::move(chooser);
}

void SettingDialog::setFontChooser(FontChooser chooser)
{
    m_fontChooser = std::move(chooser);
}

void SettingDialog::init()
{
    const Config &config = *Cache::config;
    const ConfigValues v = config.snapshot();
    Ui_SettingDialog &ui = *m_ui;

    const QList<CameraInfo> &cameras = *Cache::cameras;
    const bool cameraKnown = v.cameraIndex >= 0 && v.cameraIndex < cameras.size();
    fillSizes(ui.imageResolutionBox, cameraKnown ? cameras.at(v.cameraIndex).sizes : QList<QSize>());
    ui.imageResolutionBox->setEnabled(ui.imageResolutionBox->count() > 0);

    ui.imageCodecBox->clear();
    for (const QString &format : config.imageFormats)
        ui.imageCodecBox->addItem(format, format);

    fillSizes(ui.imageOutResolutionBox, config.outputSizes);
    fillSizes(ui.painting_mian_resolutionBox, config.outputSizes);
    fillSizes(ui.painting_other_resolutionBox, config.outputSizes);

    selectIndex(ui.imageFOURCCBox, v.imageFourcc);
    selectIndex(ui.imageResolutionBox, v.imageResolution);
    selectIndex(ui.imageOutResolutionBox, v.imageOutResolution);
    const int codec = ui.imageCodecBox->findText(v.imageCodec);
    if (codec >= 0)
        ui.imageCodecBox->setCurrentIndex(codec);

    ui.imageShootingTimeBox->setText(QString::number(v.imageShootingTime));
    ui.imageQualityBox->setValue(v.imageQuality);

    // Any non-zero type already names by time.
    m_saveNameGroup->button(v.saveType == kNumberedNames ? kNumberedNames : kTimedNames)->setChecked(true);
    ui.savePreNameBox->setText(v.savePrefix);
    ui.saveImageNumber->setText(QString::number(v.saveNumber));

    ui.checkBox_Sound->setChecked(v.savePlaysound);
    ui.checkBox_SavePdfSourceBox->setChecked(v.savePdfSource);
    ui.checkBox_SaveMergeSourceImageBox->setChecked(v.saveMergeSource);

    ui.watermark_text_box->setText(v.watermarkText);
    m_watermarkKindGroup->button(v.watermarkTime ? kTimeWatermark : kTextWatermark)->setChecked(true);

    ui.watermark_transparency_box->setValue(v.watermarkTransparency);
    ui.watermark_x_box->setValue(v.watermarkX);
    ui.watermark_y_box->setValue(v.watermarkY);
    ui.painting_percentage_box->setValue(v.paintingPercentage);
    selectIndex(ui.painting_mian_resolutionBox, v.paintingMainResolution);
    selectIndex(ui.painting_other_resolutionBox, v.paintingOtherResolution);

    const QColor colour(QLatin1Char('#') + v.watermarkColor);
    setDemoColor(colour.isValid() ? colour : QColor(Qt::black));
    ui.lbWatermarkDemo->setFont(watermarkFont(v));
}

void SettingDialog::setDemoColor(const QColor &colour)
{
    QPalette palette;
    palette.setBrush(QPalette::All, QPalette::WindowText, QBrush(colour, Qt::SolidPattern));
    m_ui->lbWatermarkDemo->setPalette(palette);
}

// Applies an edit to the store and writes the file. When the file cannot be
// written the store is put back, so that no unsaved edit takes effect unseen.
bool SettingDialog::commit(const std::function<void()> &apply)
{
    Config &config = *Cache::config;
    const ConfigValues before = config.snapshot();
    apply();
    const int writtenNumber = config.snapshot().saveNumber;
    if (config.save())
        return true;
    config.update([&](ConfigValues &v) {
        const int number = v.saveNumber;
        v = before;
        // Numbers that a photograph took in the meantime stay taken.
        if (number != writtenNumber)
            v.saveNumber = number;
    });
    QMessageBox::warning(this, tr("警告"),
                         tr("设置没有保存：无法写入 %1。").arg(QFileInfo(config.fileName).absoluteFilePath()));
    return false;
}

void SettingDialog::on_saveSetting_clicked()
{
    const Ui_SettingDialog &ui = *m_ui;
    ConfigValues v = Cache::config->snapshot();

    v.imageFourcc = chosenIndex(ui.imageFOURCCBox, v.imageFourcc);
    v.imageResolution = chosenIndex(ui.imageResolutionBox, v.imageResolution);
    v.imageOutResolution = chosenIndex(ui.imageOutResolutionBox, v.imageOutResolution);
    if (ui.imageCodecBox->count() > 0)
        v.imageCodec = ui.imageCodecBox->currentText();
    v.imageShootingTime = decimalOrZero(ui.imageShootingTimeBox->text());
    v.imageQuality = ui.imageQualityBox->value();

    v.saveType = m_saveNameGroup->checkedId();
    v.savePrefix = ui.savePreNameBox->text();
    v.saveNumber = decimalOrZero(ui.saveImageNumber->text());
    v.savePlaysound = ui.checkBox_Sound->isChecked();
    v.savePdfSource = ui.checkBox_SavePdfSourceBox->isChecked();
    v.saveMergeSource = ui.checkBox_SaveMergeSourceImageBox->isChecked();

    v.watermarkText = ui.watermark_text_box->text();
    v.watermarkTime = m_watermarkKindGroup->checkedId() == kTimeWatermark;
    v.watermarkTransparency = ui.watermark_transparency_box->value();
    v.watermarkX = ui.watermark_x_box->value();
    v.watermarkY = ui.watermark_y_box->value();

    const QFont font = ui.lbWatermarkDemo->font();
    v.watermarkFontFamily = font.family();
    // A font given in pixels has no point size; the stored size stays.
    if (font.pointSize() > 0)
        v.watermarkFontSize = font.pointSize();
    v.watermarkFontStyleName = font.styleName();
    v.watermarkStrikeOut = font.strikeOut();
    v.watermarkUnderline = font.underline();
    // Always opaque: transparency is a setting of its own.
    const QRgb opaque = ui.lbWatermarkDemo->palette().color(QPalette::WindowText).rgb();
    v.watermarkColor = QColor::fromRgba(opaque).name(QColor::HexArgb).mid(1);

    v.paintingPercentage = ui.painting_percentage_box->value();
    v.paintingMainResolution = chosenIndex(ui.painting_mian_resolutionBox, v.paintingMainResolution);
    v.paintingOtherResolution = chosenIndex(ui.painting_other_resolutionBox, v.paintingOtherResolution);

    if (!commit([&v] { Cache::config->update([&v](ConfigValues &stored) { stored = v; }); }))
        return;
    emit reConfigVideoSettingSignal();
    close();
}

void SettingDialog::on_btnDefaultSetting_clicked()
{
    if (commit([] { Cache::config->init(); }))
        init();
}

void SettingDialog::on_btnVideoSetting_clicked()
{
    emit videSettingSignal();
}

void SettingDialog::on_btnColorSelect_clicked()
{
    const QColor current = m_ui->lbWatermarkDemo->palette().color(QPalette::WindowText);
    if (const std::optional<QColor> chosen = m_colorChooser(this, current))
        setDemoColor(*chosen);
}

void SettingDialog::on_btnFontSelect_clicked()
{
    if (const std::optional<QFont> chosen = m_fontChooser(this, m_ui->lbWatermarkDemo->font()))
        m_ui->lbWatermarkDemo->setFont(*chosen);
}

void SettingDialog::on_imageQualityBox_valueChanged(int value)
{
    m_ui->lbImageQuality->setText(percentText(value));
}

void SettingDialog::on_watermark_transparency_box_valueChanged(int value)
{
    m_ui->lbWatermarkTransparency->setText(percentText(value));
}

void SettingDialog::on_watermark_x_box_valueChanged(int value)
{
    m_ui->lbWatermarkX->setText(percentText(value));
}

void SettingDialog::on_watermark_y_box_valueChanged(int value)
{
    m_ui->lbWatermarkY->setText(percentText(value));
}

void SettingDialog::on_painting_percentage_box_valueChanged(int value)
{
    m_ui->lbPaintingPercentage->setText(percentText(value));
}
