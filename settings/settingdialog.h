#pragma once

#include <QColor>
#include <QDialog>
#include <QFont>

#include <functional>
#include <memory>
#include <optional>

class QButtonGroup;
class Ui_SettingDialog;

// The "设置" dialog: shows every setting of the store, writes them back with
// "保存" and restores the factory values with "默认设置".
class SettingDialog : public QDialog {
    Q_OBJECT

public:
    // Ask the user for a colour or a font starting from `initial`; nothing means cancelled.
    using ColorChooser = std::function<std::optional<QColor>(QWidget *parent, const QColor &initial)>;
    using FontChooser = std::function<std::optional<QFont>(QWidget *parent, const QFont &initial)>;

    explicit SettingDialog(QWidget *parent = nullptr);
    ~SettingDialog() override;

    // Fills every control from the settings store.
    void init();

    // The standard colour and font dialogs unless replaced (tests answer them without a person).
    void setColorChooser(ColorChooser chooser);
    void setFontChooser(FontChooser chooser);

signals:
    void reConfigVideoSettingSignal();
    void videSettingSignal();
    // "默认设置" has put the factory values in place and written them.
    void defaultSettingsRestoredSignal();

private slots:
    void on_saveSetting_clicked();
    void on_btnDefaultSetting_clicked();
    void on_btnVideoSetting_clicked();
    void on_btnColorSelect_clicked();
    void on_btnFontSelect_clicked();
    void on_imageQualityBox_valueChanged(int value);
    void on_watermark_transparency_box_valueChanged(int value);
    void on_watermark_x_box_valueChanged(int value);
    void on_watermark_y_box_valueChanged(int value);
    void on_painting_percentage_box_valueChanged(int value);

private:
    bool commit(const std::function<void()> &apply);
    void setDemoColor(const QColor &colour);

    std::unique_ptr<Ui_SettingDialog> m_ui;
    QButtonGroup *m_saveNameGroup = nullptr;
    QButtonGroup *m_watermarkKindGroup = nullptr;
    ColorChooser m_colorChooser;
    FontChooser m_fontChooser;
};
