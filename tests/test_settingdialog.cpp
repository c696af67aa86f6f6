#include "app/cache.h"
#include "settings/settingdialog.h"
#include "support/scriptedcamera.h"
#include "support/workingdir.h"

#include <QColorDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QTimer>
#include <QtTest>

Q_DECLARE_METATYPE(ConfigValues)

namespace {

// Factory values, then `changes` written into the file and read back, as a start from disk would.
void storeSettings(const QVariantMap &changes)
{
    Cache::config->init();
    QVERIFY(Cache::config->save());
    {
        QSettings file(Cache::config->fileName, QSettings::IniFormat);
        for (auto it = changes.cbegin(); it != changes.cend(); ++it)
            file.setValue(it.key(), it.value());
    }
    Cache::config->load();
}

QString storedText(const QString &key)
{
    const QVariant value = QSettings(Cache::config->fileName, QSettings::IniFormat).value(key);
    return value.type() == QVariant::StringList ? value.toStringList().join(QLatin1Char(',')) : value.toString();
}

void click(SettingDialog &dialog, const char *button)
{
    auto *b = dialog.findChild<QPushButton *>(QLatin1String(button));
    QVERIFY(b);
    b->click();
}

// Deals with the next modal window (a message box, a standard chooser) once it is up.
void whenModalOpens(QObject *owner, std::function<void(QWidget *)> act)
{
    auto *timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            timer->stop();
            act(modal);
        }
    });
    timer->start(10);
}

QVariantList everyValue(const ConfigValues &v)
{
    return {v.cameraIndex,
            v.cameraExposure,
            v.imageFourcc,
            v.imageResolution,
            v.imageOutResolution,
            v.imageCodec,
            v.imageShootingTime,
            v.imageQuality,
            v.saveType,
            v.savePrefix,
            v.saveNumber,
            v.savePlaysound,
            v.saveMergeSource,
            v.savePdfSource,
            v.watermarkText,
            v.watermarkTime,
            v.watermarkColor,
            v.watermarkFontFamily,
            v.watermarkFontSize,
            v.watermarkFontStyleName,
            v.watermarkStrikeOut,
            v.watermarkUnderline,
            v.watermarkTransparency,
            v.watermarkX,
            v.watermarkY,
            v.paintingPercentage,
            v.paintingMainResolution,
            v.paintingOtherResolution,
            v.userDocumentsLocation};
}

} // namespace

class TestSettingDialog : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        Cache::config->outputSizes = standardOutputSizes();
        Cache::config->imageFormats = {"bmp", "jpg", "png", "tif"};
        *Cache::cameras = {scriptedCamera(0, {QSize(3264, 2448), QSize(1920, 1080), QSize(640, 480)}),
                           scriptedCamera(1, {})};
    }

    void formKeepsItsHiddenParts()
    {
        SettingDialog dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("设置"));
        QCOMPARE(dialog.size(), QSize(444, 766));
        QVERIFY(!(dialog.windowFlags() & Qt::WindowContextHelpButtonHint));
        dialog.show();
        for (const char *name : {"checkBox_SavePdfSourceBox", "checkBox_SaveMergeSourceImageBox", "btnVideoSetting"})
            QVERIFY2(dialog.findChild<QWidget *>(QLatin1String(name))->isHidden(), name);
        QSignalSpy video(&dialog, &SettingDialog::videSettingSignal);
        click(dialog, "btnVideoSetting");
        QCOMPARE(video.count(), 1);
    }

    void showsAndSavesStoredValues_data()
    {
        QTest::addColumn<QVariantMap>("stored");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("shown");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("saved");

        QTest::newRow("fourcc MJPG") << QVariantMap{{"image/fourcc", 0}} << "imageFOURCCBox"
                                     << QByteArray("currentText") << QVariant("MJPG") << "image/fourcc"
                                     << "0";
        QTest::newRow("fourcc YUYV") << QVariantMap{{"image/fourcc", 1}} << "imageFOURCCBox"
                                     << QByteArray("currentText") << QVariant("YUYV") << "image/fourcc"
                                     << "1";
        QTest::newRow("fourcc unknown") << QVariantMap{{"image/fourcc", 4}} << "imageFOURCCBox"
                                        << QByteArray("currentText") << QVariant("MJPG") << "image/fourcc"
                                        << "0";
        QTest::newRow("camera size") << QVariantMap{{"image/resolution", 2}} << "imageResolutionBox"
                                     << QByteArray("currentText") << QVariant("640x480") << "image/resolution"
                                     << "2";
        QTest::newRow("camera size of a larger camera")
            << QVariantMap{{"image/resolution", 7}} << "imageResolutionBox" << QByteArray("currentText")
            << QVariant("3264x2448") << "image/resolution"
            << "0";
        QTest::newRow("no camera at the index")
            << QVariantMap{{"camera/index", 5}, {"image/resolution", 2}} << "imageResolutionBox"
            << QByteArray("enabled") << QVariant(false) << "image/resolution"
            << "2";
        QTest::newRow("camera without sizes")
            << QVariantMap{{"camera/index", 1}, {"image/resolution", 1}} << "imageResolutionBox"
            << QByteArray("enabled") << QVariant(false) << "image/resolution"
            << "1";
        QTest::newRow("negative output size")
            << QVariantMap{{"image/out_resolution", -1}} << "imageOutResolutionBox" << QByteArray("currentText")
            << QVariant("4640x3452") << "image/out_resolution"
            << "0";
        QTest::newRow("inset size past the list")
            << QVariantMap{{"painting/other_resolution", 12}} << "painting_other_resolutionBox"
            << QByteArray("currentText") << QVariant("4640x3452") << "painting/other_resolution"
            << "0";
        QTest::newRow("main inset size") << QVariantMap{{"painting/main_resolution", 11}}
                                         << "painting_mian_resolutionBox" << QByteArray("currentText")
                                         << QVariant("640x480") << "painting/main_resolution"
                                         << "11";
        QTest::newRow("codec by name") << QVariantMap{{"image/codec", "png"}} << "imageCodecBox"
                                       << QByteArray("currentText") << QVariant("png") << "image/codec"
                                       << "png";
        QTest::newRow("named by time") << QVariantMap{{"save/type", 1}} << "radioButton_Time" << QByteArray("checked")
                                       << QVariant(true) << "save/type"
                                       << "1";
        QTest::newRow("unknown naming type") << QVariantMap{{"save/type", 7}} << "radioButton_Time"
                                             << QByteArray("checked") << QVariant(true) << "save/type"
                                             << "1";
        QTest::newRow("named by number") << QVariantMap{{"save/type", 0}} << "radioButton_File" << QByteArray("checked")
                                         << QVariant(true) << "save/type"
                                         << "0";
        QTest::newRow("time watermark") << QVariantMap{{"watermark/time", true}} << "radioButton_watermark_time"
                                        << QByteArray("checked") << QVariant(true) << "watermark/time"
                                        << "true";
        QTest::newRow("sound off") << QVariantMap{{"save/playsound", false}} << "checkBox_Sound"
                                   << QByteArray("checked") << QVariant(false) << "save/playsound"
                                   << "false";
        QTest::newRow("hidden merge switch")
            << QVariantMap{{"save/merge_source", false}} << "checkBox_SaveMergeSourceImageBox" << QByteArray("checked")
            << QVariant(false) << "save/merge_source"
            << "false";
        QTest::newRow("hidden pdf switch") << QVariantMap{{"save/pdf_source", true}} << "checkBox_SavePdfSourceBox"
                                           << QByteArray("checked") << QVariant(true) << "save/pdf_source"
                                           << "true";
        QTest::newRow("interval") << QVariantMap{{"image/shooting_time", 12}} << "imageShootingTimeBox"
                                  << QByteArray("text") << QVariant("12") << "image/shooting_time"
                                  << "12";
    }

    void showsAndSavesStoredValues()
    {
        QFETCH(QVariantMap, stored);
        QFETCH(QString, control);
        QFETCH(QByteArray, property);
        QFETCH(QVariant, shown);
        QFETCH(QString, key);
        QFETCH(QString, saved);

        ScopedWorkingDir dir;
        storeSettings(stored);
        SettingDialog dialog;
        dialog.show();
        dialog.init();
        auto *widget = dialog.findChild<QWidget *>(control);
        QVERIFY(widget);
        QCOMPARE(widget->property(property.constData()), shown);

        QSignalSpy reconfigure(&dialog, &SettingDialog::reConfigVideoSettingSignal);
        click(dialog, "saveSetting");
        QCOMPARE(reconfigure.count(), 1);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(storedText(key), saved);
    }

    void typedTextIsStored_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("saved");

        QTest::newRow("interval in seconds") << "imageShootingTimeBox"
                                             << "15"
                                             << "image/shooting_time"
                                             << "15";
        QTest::newRow("letters as interval") << "imageShootingTimeBox"
                                             << "abc"
                                             << "image/shooting_time"
                                             << "0";
        QTest::newRow("fraction as interval") << "imageShootingTimeBox"
                                              << "1.5"
                                              << "image/shooting_time"
                                              << "0";
        QTest::newRow("number with zeros") << "saveImageNumber"
                                           << "0042"
                                           << "save/number"
                                           << "42";
        QTest::newRow("number with letters") << "saveImageNumber"
                                             << "12a"
                                             << "save/number"
                                             << "0";
        QTest::newRow("number too large") << "saveImageNumber"
                                          << "99999999999"
                                          << "save/number"
                                          << "0";
        QTest::newRow("prefix as typed") << "savePreNameBox"
                                         << " 扫描 A,"
                                         << "save/prefix"
                                         << " 扫描 A,";
        QTest::newRow("watermark text") << "watermark_text_box"
                                        << "机密, 2026"
                                        << "watermark/text"
                                        << "机密, 2026";
    }

    void typedTextIsStored()
    {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(QString, key);
        QFETCH(QString, saved);

        ScopedWorkingDir dir;
        storeSettings({});
        SettingDialog dialog;
        dialog.show();
        dialog.init();
        auto *edit = dialog.findChild<QLineEdit *>(field);
        QVERIFY(edit);
        edit->setText(typed);
        click(dialog, "saveSetting");
        QCOMPARE(storedText(key), saved);
    }

    void percentageLabels_data()
    {
        QTest::addColumn<QString>("slider");
        QTest::addColumn<QString>("label");
        QTest::addColumn<int>("value");

        QTest::newRow("quality") << "imageQualityBox"
                                 << "lbImageQuality" << 95;
        QTest::newRow("transparency") << "watermark_transparency_box"
                                      << "lbWatermarkTransparency" << 0;
        QTest::newRow("horizontal") << "watermark_x_box"
                                    << "lbWatermarkX" << 100;
        QTest::newRow("vertical") << "watermark_y_box"
                                  << "lbWatermarkY" << 7;
        QTest::newRow("inset") << "painting_percentage_box"
                               << "lbPaintingPercentage" << 55;
    }

    void percentageLabels()
    {
        QFETCH(QString, slider);
        QFETCH(QString, label);
        QFETCH(int, value);

        ScopedWorkingDir dir;
        storeSettings({});
        SettingDialog dialog;
        dialog.init();
        dialog.findChild<QSlider *>(slider)->setValue(value);
        QCOMPARE(dialog.findChild<QLabel *>(label)->text(), QStringLiteral("%1%").arg(value));
    }

    void colourChooser_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("choose");
        QTest::addColumn<QColor>("answer"); // invalid: cancelled
        QTest::addColumn<QColor>("shown");
        QTest::addColumn<QString>("saved");

        QTest::newRow("red kept") << "ffff0000" << false << QColor() << QColor(Qt::red) << "ffff0000";
        QTest::newRow("blue chosen") << "ff000000" << true << QColor(Qt::blue) << QColor(Qt::blue) << "ff0000ff";
        QTest::newRow("cancelled") << "ff00ff00" << true << QColor() << QColor(Qt::green) << "ff00ff00";
        QTest::newRow("translucent saved opaque")
            << "80ff0000" << false << QColor() << QColor(255, 0, 0, 128) << "ffff0000";
        QTest::newRow("unreadable colour") << "zz" << false << QColor() << QColor(Qt::black) << "ff000000";
    }

    void colourChooser()
    {
        QFETCH(QString, stored);
        QFETCH(bool, choose);
        QFETCH(QColor, answer);
        QFETCH(QColor, shown);
        QFETCH(QString, saved);

        ScopedWorkingDir dir;
        storeSettings({{"watermark/color", stored}});
        SettingDialog dialog;
        QColor offered;
        dialog.setColorChooser([&](QWidget *parent, const QColor &initial) -> std::optional<QColor> {
            if (parent != &dialog)
                return std::nullopt;
            offered = initial;
            return answer.isValid() ? std::optional<QColor>(answer) : std::nullopt;
        });
        dialog.show();
        dialog.init();
        const QColor before = dialog.findChild<QLabel *>("lbWatermarkDemo")->palette().color(QPalette::WindowText);
        if (choose) {
            click(dialog, "btnColorSelect");
            QCOMPARE(offered, before);
        }
        const QPalette palette = dialog.findChild<QLabel *>("lbWatermarkDemo")->palette();
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            QCOMPARE(palette.color(group, QPalette::WindowText), shown);
        click(dialog, "saveSetting");
        QCOMPARE(storedText("watermark/color"), saved);
    }

    void standardColourDialogCancelled()
    {
        ScopedWorkingDir dir;
        storeSettings({{"watermark/color", "ffff0000"}});
        SettingDialog dialog;
        dialog.show();
        dialog.init();
        bool sawDialog = false;
        whenModalOpens(&dialog, [&](QWidget *modal) {
            sawDialog = qobject_cast<QColorDialog *>(modal) != nullptr;
            modal->close();
        });
        click(dialog, "btnColorSelect");
        QVERIFY(sawDialog);
        click(dialog, "saveSetting");
        QCOMPARE(storedText("watermark/color"), QStringLiteral("ffff0000"));
    }

    void fontChooser_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<QStringList>("saved"); // family, size, style, underline, strike-out

        QTest::newRow("cancelled") << false << QStringList{"DejaVu Serif", "40", "Bold", "true", "false"};
        QTest::newRow("confirmed") << true << QStringList{"Liberation Mono", "24", "Italic", "false", "true"};
    }

    void fontChooser()
    {
        QFETCH(bool, confirm);
        QFETCH(QStringList, saved);

        ScopedWorkingDir dir;
        storeSettings({{"watermark/font_family", "DejaVu Serif"},
                       {"watermark/font_size", 40},
                       {"watermark/font_styleName", "Bold"},
                       {"watermark/underline", true},
                       {"watermark/strikeOut", false}});
        SettingDialog dialog;
        QFont offered;
        dialog.setFontChooser([&](QWidget *, const QFont &initial) -> std::optional<QFont> {
            offered = initial;
            if (!confirm)
                return std::nullopt;
            QFont font(QStringLiteral("Liberation Mono"));
            font.setPointSize(24);
            font.setStyleName(QStringLiteral("Italic"));
            font.setStrikeOut(true);
            return font;
        });
        dialog.show();
        dialog.init();
        click(dialog, "btnFontSelect");
        QCOMPARE(offered.family(), QStringLiteral("DejaVu Serif"));
        QCOMPARE(offered.pointSize(), 40);
        click(dialog, "saveSetting");
        const QStringList keys = {"watermark/font_family", "watermark/font_size", "watermark/font_styleName",
                                  "watermark/underline", "watermark/strikeOut"};
        for (int i = 0; i < keys.size(); ++i)
            QCOMPARE(storedText(keys.at(i)), saved.at(i));
    }

    void defaultSettingWritesFactoryValues_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("factory");

        QTest::newRow("quality") << "image/quality"
                                 << "80";
        QTest::newRow("codec") << "image/codec"
                               << "jpg";
        QTest::newRow("output size") << "image/out_resolution"
                                     << "3";
        QTest::newRow("prefix") << "save/prefix"
                                << "IMG";
        QTest::newRow("number") << "save/number"
                                << "1";
        QTest::newRow("colour") << "watermark/color"
                                << "ff000000";
        QTest::newRow("hidden merge switch") << "save/merge_source"
                                             << "true";
        QTest::newRow("camera kept") << "camera/index"
                                     << "1";
        QTest::newRow("work directory kept") << "user/documentsLocation"
                                             << "kept-work";
    }

    void defaultSettingWritesFactoryValues()
    {
        QFETCH(QString, key);
        QFETCH(QString, factory);

        ScopedWorkingDir dir;
        storeSettings({{"camera/index", 1},
                       {"user/documentsLocation", "kept-work"},
                       {"image/quality", 20},
                       {"image/codec", "png"},
                       {"image/out_resolution", 9},
                       {"save/prefix", "X"},
                       {"save/number", 77},
                       {"watermark/color", "ff00ff00"},
                       {"save/merge_source", false}});
        SettingDialog dialog;
        dialog.show();
        dialog.init();
        QSignalSpy reconfigure(&dialog, &SettingDialog::reConfigVideoSettingSignal);
        click(dialog, "btnDefaultSetting");
        QCOMPARE(storedText(key), factory);
        QVERIFY(dialog.isVisible());
        QCOMPARE(reconfigure.count(), 0);
        QCOMPARE(dialog.findChild<QSlider *>("imageQualityBox")->value(), 80);
        QCOMPARE(dialog.findChild<QLabel *>("lbImageQuality")->text(), QStringLiteral("80%"));
    }

    void everySettingSurvivesSaveAndLoad_data()
    {
        QTest::addColumn<ConfigValues>("values");

        Cache::config->init();
        ConfigValues factory = Cache::config->snapshot();
        factory.cameraIndex = 0;
        factory.userDocumentsLocation = "work-factory";
        QTest::newRow("factory") << factory;

        ConfigValues v;
        v.cameraIndex = 0;
        v.cameraExposure = -7;
        v.imageFourcc = 1;
        v.imageResolution = 2;
        v.imageOutResolution = 11;
        v.imageCodec = "png";
        v.imageShootingTime = 12;
        v.imageQuality = 33;
        v.saveType = 1;
        v.savePrefix = "扫描";
        v.saveNumber = 314;
        v.watermarkText = "机密";
        v.watermarkTime = true;
        v.watermarkColor = "ff123456";
        v.watermarkFontFamily = "DejaVu Serif";
        v.watermarkFontSize = 36;
        v.watermarkFontStyleName = "Bold";
        v.watermarkStrikeOut = true;
        v.watermarkUnderline = true;
        v.watermarkTransparency = 10;
        v.watermarkX = 0;
        v.watermarkY = 100;
        v.paintingPercentage = 45;
        v.paintingMainResolution = 7;
        v.paintingOtherResolution = 11;
        v.userDocumentsLocation = "work-elsewhere";
        QTest::newRow("every value changed") << v;
    }

    void everySettingSurvivesSaveAndLoad()
    {
        QFETCH(ConfigValues, values);

        ScopedWorkingDir dir;
        storeSettings({});
        Cache::config->update([&](ConfigValues &v) { v = values; });
        SettingDialog dialog;
        dialog.show();
        dialog.init();
        click(dialog, "saveSetting");
        const Config reloaded;
        QCOMPARE(everyValue(reloaded.snapshot()), everyValue(values));
    }

    void unwritableSettingsFileWarns_data()
    {
        QTest::addColumn<QString>("button");
        QTest::newRow("save") << "saveSetting";
        QTest::newRow("factory settings") << "btnDefaultSetting";
    }

    void unwritableSettingsFileWarns()
    {
        QFETCH(QString, button);

        ScopedWorkingDir dir;
        storeSettings({{"image/quality", 33}});
        SettingDialog dialog;
        dialog.show();
        dialog.init();
        dialog.findChild<QSlider *>("imageQualityBox")->setValue(90);
        // A folder in the file's place cannot be replaced by a file.
        QVERIFY(QFile::remove(Cache::config->fileName));
        QVERIFY(QDir().mkdir(Cache::config->fileName));

        QString title;
        QString text;
        whenModalOpens(&dialog, [&](QWidget *modal) {
            if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                title = box->windowTitle();
                text = box->text();
            }
            modal->close();
        });
        QSignalSpy reconfigure(&dialog, &SettingDialog::reConfigVideoSettingSignal);
        click(dialog, button.toLatin1().constData());

        QCOMPARE(title, QStringLiteral("警告"));
        QVERIFY2(text.contains(QStringLiteral("没有保存")), qPrintable(text));
        QVERIFY(dialog.isVisible());
        QCOMPARE(reconfigure.count(), 0);
        QCOMPARE(Cache::config->snapshot().imageQuality, 33);
        QCOMPARE(dialog.findChild<QSlider *>("imageQualityBox")->value(), 90);
    }
};

QTEST_MAIN(TestSettingDialog)
#include "test_settingdialog.moc"
