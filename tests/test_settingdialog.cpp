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

QByteArray settingsFile()
{
    QFile file(Cache::config->fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A dialog filled from the store, as the main window shows it.
struct ShownDialog {
    ShownDialog()
    {
        dialog.show();
        dialog.init();
    }
    template <typename T> T *find(const QString &name) const { return dialog.findChild<T *>(name); }
    void click(const QString &button) { find<QPushButton>(button)->click(); }
    SettingDialog dialog;
};

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
        QVERIFY(!(dialog.windowFlags() & Qt::WindowContextHelpButtonHint));
        dialog.show();
        for (const char *name : {"checkBox_SavePdfSourceBox", "checkBox_SaveMergeSourceImageBox", "btnVideoSetting"})
            QVERIFY2(dialog.findChild<QWidget *>(QLatin1String(name))->isHidden(), name);
        QSignalSpy video(&dialog, &SettingDialog::videSettingSignal);
        dialog.findChild<QPushButton *>("btnVideoSetting")->click();
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

        const QByteArray text("currentText");
        const QByteArray checked("checked");
        const QByteArray label("text");
        // clang-format off
        QTest::newRow("fourcc MJPG") << QVariantMap{{"image/fourcc", 0}} << "imageFOURCCBox" << text << QVariant("MJPG") << "image/fourcc" << "0";
        QTest::newRow("fourcc YUYV") << QVariantMap{{"image/fourcc", 1}} << "imageFOURCCBox" << text << QVariant("YUYV") << "image/fourcc" << "1";
        QTest::newRow("fourcc unknown") << QVariantMap{{"image/fourcc", 4}} << "imageFOURCCBox" << text << QVariant("MJPG") << "image/fourcc" << "0";
        QTest::newRow("camera size") << QVariantMap{{"image/resolution", 2}} << "imageResolutionBox" << text << QVariant("640x480") << "image/resolution" << "2";
        QTest::newRow("size of a larger camera") << QVariantMap{{"image/resolution", 7}} << "imageResolutionBox" << text << QVariant("3264x2448") << "image/resolution" << "0";
        QTest::newRow("no camera at the index") << QVariantMap{{"camera/index", 5}, {"image/resolution", 2}} << "imageResolutionBox" << QByteArray("enabled") << QVariant(false) << "image/resolution" << "2";
        QTest::newRow("camera without sizes") << QVariantMap{{"camera/index", 1}, {"image/resolution", 1}} << "imageResolutionBox" << QByteArray("enabled") << QVariant(false) << "image/resolution" << "1";
        QTest::newRow("negative output size") << QVariantMap{{"image/out_resolution", -1}} << "imageOutResolutionBox" << text << QVariant("4640x3452") << "image/out_resolution" << "0";
        QTest::newRow("inset size past the list") << QVariantMap{{"painting/other_resolution", 12}} << "painting_other_resolutionBox" << text << QVariant("4640x3452") << "painting/other_resolution" << "0";
        QTest::newRow("main inset size") << QVariantMap{{"painting/main_resolution", 11}} << "painting_mian_resolutionBox" << text << QVariant("640x480") << "painting/main_resolution" << "11";
        QTest::newRow("codec by name") << QVariantMap{{"image/codec", "png"}} << "imageCodecBox" << text << QVariant("png") << "image/codec" << "png";
        QTest::newRow("named by time") << QVariantMap{{"save/type", 1}} << "radioButton_Time" << checked << QVariant(true) << "save/type" << "1";
        QTest::newRow("unknown naming type") << QVariantMap{{"save/type", 7}} << "radioButton_Time" << checked << QVariant(true) << "save/type" << "1";
        QTest::newRow("named by number") << QVariantMap{{"save/type", 0}} << "radioButton_File" << checked << QVariant(true) << "save/type" << "0";
        QTest::newRow("time watermark") << QVariantMap{{"watermark/time", true}} << "radioButton_watermark_time" << checked << QVariant(true) << "watermark/time" << "true";
        QTest::newRow("sound off") << QVariantMap{{"save/playsound", false}} << "checkBox_Sound" << checked << QVariant(false) << "save/playsound" << "false";
        QTest::newRow("hidden merge switch") << QVariantMap{{"save/merge_source", false}} << "checkBox_SaveMergeSourceImageBox" << checked << QVariant(false) << "save/merge_source" << "false";
        QTest::newRow("quality label") << QVariantMap{{"image/quality", 95}} << "lbImageQuality" << label << QVariant("95%") << "image/quality" << "95";
        QTest::newRow("transparency label") << QVariantMap{{"watermark/transparency", 0}} << "lbWatermarkTransparency" << label << QVariant("0%") << "watermark/transparency" << "0";
        QTest::newRow("horizontal label") << QVariantMap{{"watermark/x", 100}} << "lbWatermarkX" << label << QVariant("100%") << "watermark/x" << "100";
        QTest::newRow("vertical label") << QVariantMap{{"watermark/y", 7}} << "lbWatermarkY" << label << QVariant("7%") << "watermark/y" << "7";
        QTest::newRow("inset label") << QVariantMap{{"painting/percentage", 55}} << "lbPaintingPercentage" << label << QVariant("55%") << "painting/percentage" << "55";
        QTest::newRow("hidden pdf switch") << QVariantMap{{"save/pdf_source", true}} << "checkBox_SavePdfSourceBox" << checked << QVariant(true) << "save/pdf_source" << "true";
        // clang-format on
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
        ShownDialog d;
        QCOMPARE(d.find<QWidget>(control)->property(property.constData()), shown);
        QSignalSpy reconfigure(&d.dialog, &SettingDialog::reConfigVideoSettingSignal);
        d.click("saveSetting");
        QCOMPARE(reconfigure.count(), 1);
        QVERIFY(!d.dialog.isVisible());
        QCOMPARE(storedText(key), saved);
    }

    void typedTextIsStored_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("saved");

        // clang-format off
        QTest::newRow("interval in seconds") << "imageShootingTimeBox" << "15" << "image/shooting_time" << "15";
        QTest::newRow("letters as interval") << "imageShootingTimeBox" << "abc" << "image/shooting_time" << "0";
        QTest::newRow("fraction as interval") << "imageShootingTimeBox" << "1.5" << "image/shooting_time" << "0";
        QTest::newRow("number with zeros") << "saveImageNumber" << "0042" << "save/number" << "42";
        QTest::newRow("number with letters") << "saveImageNumber" << "12a" << "save/number" << "0";
        QTest::newRow("number too large") << "saveImageNumber" << "99999999999" << "save/number" << "0";
        QTest::newRow("prefix as typed") << "savePreNameBox" << " 扫描 A," << "save/prefix" << " 扫描 A,";
        QTest::newRow("watermark text") << "watermark_text_box" << "机密, 2026" << "watermark/text" << "机密, 2026";
        // clang-format on
    }

    void typedTextIsStored()
    {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(QString, key);
        QFETCH(QString, saved);

        ScopedWorkingDir dir;
        storeSettings({});
        ShownDialog d;
        d.find<QLineEdit>(field)->setText(typed);
        d.click("saveSetting");
        QCOMPARE(storedText(key), saved);
    }

    void colourChooser_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("choose");
        QTest::addColumn<QColor>("answer"); // invalid: cancelled
        QTest::addColumn<QColor>("shown");
        QTest::addColumn<QString>("saved");

        // clang-format off
        QTest::newRow("red kept") << "ffff0000" << false << QColor() << QColor(Qt::red) << "ffff0000";
        QTest::newRow("blue chosen") << "ff000000" << true << QColor(Qt::blue) << QColor(Qt::blue) << "ff0000ff";
        QTest::newRow("cancelled") << "ff00ff00" << true << QColor() << QColor(Qt::green) << "ff00ff00";
        QTest::newRow("translucent saved opaque") << "80ff0000" << false << QColor() << QColor(255, 0, 0, 128) << "ffff0000";
        QTest::newRow("unreadable colour") << "zz" << false << QColor() << QColor(Qt::black) << "ff000000";
        // clang-format on
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
        ShownDialog d;
        QColor offered;
        d.dialog.setColorChooser([&](QWidget *parent, const QColor &initial) -> std::optional<QColor> {
            offered = initial;
            if (parent != &d.dialog || !answer.isValid())
                return std::nullopt;
            return answer;
        });
        const QColor before = d.find<QLabel>("lbWatermarkDemo")->palette().color(QPalette::WindowText);
        if (choose) {
            d.click("btnColorSelect");
            QCOMPARE(offered, before);
        }
        const QPalette palette = d.find<QLabel>("lbWatermarkDemo")->palette();
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            QCOMPARE(palette.color(group, QPalette::WindowText), shown);
        d.click("saveSetting");
        QCOMPARE(storedText("watermark/color"), saved);
    }

    void standardColourDialogCancelled()
    {
        ScopedWorkingDir dir;
        storeSettings({{"watermark/color", "ffff0000"}});
        ShownDialog d;
        bool sawDialog = false;
        whenModalOpens(&d.dialog, [&](QWidget *modal) {
            sawDialog = qobject_cast<QColorDialog *>(modal) != nullptr;
            modal->close();
        });
        d.click("btnColorSelect");
        QVERIFY(sawDialog);
        d.click("saveSetting");
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
        const QStringList keys = {"watermark/font_family", "watermark/font_size", "watermark/font_styleName",
                                  "watermark/underline", "watermark/strikeOut"};
        storeSettings({{keys[0], "DejaVu Serif"}, {keys[1], 40}, {keys[2], "Bold"}, {keys[3], true}, {keys[4], false}});
        ShownDialog d;
        QFont offered;
        d.dialog.setFontChooser([&](QWidget *, const QFont &initial) -> std::optional<QFont> {
            offered = initial;
            if (!confirm)
                return std::nullopt;
            QFont font(QStringLiteral("Liberation Mono"), 24);
            font.setStyleName(QStringLiteral("Italic"));
            font.setStrikeOut(true);
            return font;
        });
        d.click("btnFontSelect");
        QCOMPARE(offered.family(), QStringLiteral("DejaVu Serif"));
        QCOMPARE(offered.pointSize(), 40);
        d.click("saveSetting");
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
        ShownDialog d;
        QSignalSpy reconfigure(&d.dialog, &SettingDialog::reConfigVideoSettingSignal);
        d.click("btnDefaultSetting");
        QCOMPARE(storedText(key), factory);
        QVERIFY(d.dialog.isVisible());
        QCOMPARE(reconfigure.count(), 0);
        QCOMPARE(d.find<QSlider>("imageQualityBox")->value(), 80);
        QCOMPARE(d.find<QLabel>("lbImageQuality")->text(), QStringLiteral("80%"));
    }

    void everySettingSurvivesSaveAndLoad_data()
    {
        QTest::addColumn<QVariantMap>("stored");

        QTest::newRow("factory") << QVariantMap{{"camera/index", 0}};
        QTest::newRow("every value changed") << QVariantMap{{"camera/index", 1},
                                                            {"camera/exposure", -7},
                                                            {"image/fourcc", 1},
                                                            {"image/resolution", 2},
                                                            {"image/out_resolution", 11},
                                                            {"image/codec", "png"},
                                                            {"image/shooting_time", 12},
                                                            {"image/quality", 33},
                                                            {"save/type", 1},
                                                            {"save/prefix", "扫描"},
                                                            {"save/number", 314},
                                                            {"save/playsound", false},
                                                            {"save/merge_source", false},
                                                            {"save/pdf_source", false},
                                                            {"watermark/text", "机密"},
                                                            {"watermark/time", true},
                                                            {"watermark/color", "ff123456"},
                                                            {"watermark/font_family", "DejaVu Serif"},
                                                            {"watermark/font_size", 36},
                                                            {"watermark/font_styleName", "Bold"},
                                                            {"watermark/strikeOut", true},
                                                            {"watermark/underline", true},
                                                            {"watermark/transparency", 10},
                                                            {"watermark/x", 0},
                                                            {"watermark/y", 100},
                                                            {"painting/percentage", 45},
                                                            {"painting/main_resolution", 7},
                                                            {"painting/other_resolution", 11},
                                                            {"user/documentsLocation", "elsewhere"},
                                                            {"save/pdf_auto_capture", true},
                                                            {"save/pdf_ocr", false}};
    }

    // The file written by the store itself is the reference: saving through
    // the dialog, and loading and saving again, must reproduce it byte for byte.
    void everySettingSurvivesSaveAndLoad()
    {
        QFETCH(QVariantMap, stored);

        // A setting added to the store must be added to the row that changes them all.
        for (const SettingRow &row : kSettings)
            QVERIFY2(stored.size() == 1 || stored.contains(row.key), row.key);
        ScopedWorkingDir dir;
        storeSettings(stored);
        QVERIFY(Cache::config->save());
        const QByteArray reference = settingsFile();
        ShownDialog d;
        d.click("saveSetting");
        QCOMPARE(settingsFile(), reference);
        Config reloaded;
        QVERIFY(reloaded.save());
        QCOMPARE(settingsFile(), reference);
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
        ShownDialog d;
        d.find<QSlider>("imageQualityBox")->setValue(90);
        // A folder in the file's place cannot be replaced by a file.
        QVERIFY(QFile::remove(Cache::config->fileName));
        QVERIFY(QDir().mkdir(Cache::config->fileName));

        QString title;
        QString text;
        whenModalOpens(&d.dialog, [&](QWidget *modal) {
            if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                title = box->windowTitle();
                text = box->text();
            }
            modal->close();
        });
        QSignalSpy reconfigure(&d.dialog, &SettingDialog::reConfigVideoSettingSignal);
        d.click(button);

        QCOMPARE(title, QStringLiteral("警告"));
        QVERIFY2(text.contains(QStringLiteral("没有保存")), qPrintable(text));
        QVERIFY(d.dialog.isVisible());
        QCOMPARE(reconfigure.count(), 0);
        QCOMPARE(Cache::config->snapshot().imageQuality, 33);
        QCOMPARE(d.find<QSlider>("imageQualityBox")->value(), 90);
    }
};

QTEST_MAIN(TestSettingDialog)
#include "test_settingdialog.moc"
