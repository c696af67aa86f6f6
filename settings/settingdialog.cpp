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

// Controls that show one stored value as it is, each named once for showing and saving.
template <typename Control, typename Value>
struct Binding {
    Control *Ui_SettingDialog::*control;
    Value ConfigValues::*member;
};
// A list's position is the stored number.
const Binding<QComboBox, int> kIndexBoxes[] = {
    {&Ui_SettingDialog::imageFOURCCBox, &ConfigValues::imageFourcc},
    {&Ui_SettingDialog::imageResolutionBox, &ConfigValues::imageResolution},
    {&Ui_SettingDialog::imageOutResolutionBox, &ConfigValues::imageOutResolution},
    {&Ui_SettingDialog::painting_mian_resolutionBox, &ConfigValues::paintingMainResolution},
    {&Ui_SettingDialog::painting_other_resolutionBox, &ConfigValues::paintingOtherResolution},
};
const Binding<QSlider, int> kSliders[] = {
    {&Ui_SettingDialog::imageQualityBox, &ConfigValues::imageQuality},
    {&Ui_SettingDialog::watermark_transparency_box, &ConfigValues::watermarkTransparency},
    {&Ui_SettingDialog::watermark_x_box, &ConfigValues::watermarkX},
    {&Ui_SettingDialog::watermark_y_box, &ConfigValues::watermarkY},
    {&Ui_SettingDialog::painting_percentage_box, &ConfigValues::paintingPercentage},
};
const Binding<QCheckBox, bool> kCheckBoxes[] = {
    {&Ui_SettingDialog::checkBox_Sound, &ConfigValues::savePlaysound},
    {&Ui_SettingDialog::checkBox_SavePdfSourceBox, &ConfigValues::savePdfSource},
    {&Ui_SettingDialog::checkBox_SaveMergeSourceImageBox, &ConfigValues::saveMergeSource},
};
const Binding<QLineEdit, QString> kTexts[] = {
    {&Ui_SettingDialog::savePreNameBox, &ConfigValues::savePrefix},
    {&Ui_SettingDialog::watermark_text_box, &ConfigValues::watermarkText},
};
// Whole numbers typed as text; anything else is stored as 0.
const Binding<QLineEdit, int> kNumbers[] = {
    {&Ui_SettingDialog::imageShootingTimeBox, &ConfigValues::imageShootingTime},
    {&Ui_SettingDialog::saveImageNumber, &ConfigValues::saveNumber},
};

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

    for (const auto &b : kIndexBoxes)
        selectIndex(ui.*b.control, v.*b.member);
    for (const auto &b : kSliders)
        (ui.*b.control)->setValue(v.*b.member);
    for (const auto &b : kCheckBoxes)
        (ui.*b.control)->setChecked(v.*b.member);
    for (const auto &b : kTexts)
        (ui.*b.control)->setText(v.*b.member);
    for (const auto &b : kNumbers)
        (ui.*b.control)->setText(QString::number(v.*b.member));
    const int codec = ui.imageCodecBox->findText(v.imageCodec);
    if (codec >= 0)
        ui.imageCodecBox->setCurrentIndex(codec);

    // Any non-zero type already names by time.
    m_saveNameGroup->button(v.saveType == kNumberedNames ? kNumberedNames : kTimedNames)->setChecked(true);
    m_watermarkKindGroup->button(v.watermarkTime ? kTimeWatermark : kTextWatermark)->setChecked(true);

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

    for (const auto &b : kIndexBoxes)
        v.*b.member = chosenIndex(ui.*b.control, v.*b.member);
    for (const auto &b : kSliders)
        v.*b.member = (ui.*b.control)->value();
    for (const auto &b : kCheckBoxes)
        v.*b.member = (ui.*b.control)->isChecked();
    for (const auto &b : kTexts)
        v.*b.member = (ui.*b.control)->text();
    for (const auto &b : kNumbers)
        v.*b.member = decimalOrZero((ui.*b.control)->text());
    if (ui.imageCodecBox->count() > 0)
        v.imageCodec = ui.imageCodecBox->currentText();
    v.saveType = m_saveNameGroup->checkedId();
    v.watermarkTime = m_watermarkKindGroup->checkedId() == kTimeWatermark;

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

    if (!commit([&v] { Cache::config->update([&v](ConfigValues &stored) { stored = v; }); }))
        return;
    emit reConfigVideoSettingSignal();
    close();
}

void SettingDialog::on_btnDefaultSetting_clicked()
{
    if (!commit([] { Cache::config->init(); }))
        return;
    init();
    emit defaultSettingsRestoredSignal();
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
