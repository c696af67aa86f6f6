// The interface language: English under an English locale, the designed
// Chinese otherwise, and an English catalogue that a user can actually read.
#include "app/cache.h"
#include "app/discovery.h"
#include "app/translations.h"
#include "mainwindow/mainwindowqcamera.h"
#include "output/imagemergingdialog.h"
#include "support/messageboxes.h"
#include "support/workingdir.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyle>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

// Han characters and the full-width punctuation that goes with them.
bool hasChinese(const QString &text)
{
    static const QRegularExpression chinese(QStringLiteral("[\\p{Han}\\x{3000}-\\x{303F}\\x{FF00}-\\x{FFEF}]"));
    return text.contains(chinese);
}

// Every text a user can read in the window, hidden widgets included; what the
// user typed or chose (line edits, the work folder) is user data and left out.
QList<QPair<QWidget *, QString>> readableTexts(QWidget *window)
{
    QList<QPair<QWidget *, QString>> texts{{window, window->windowTitle()}};
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (w->window() != window)
            continue;
        texts << qMakePair(w, w->toolTip());
        if (auto *label = qobject_cast<QLabel *>(w))
            texts << qMakePair(w, label->text());
        else if (auto *button = qobject_cast<QAbstractButton *>(w))
            texts << qMakePair(w, button->text());
        else if (auto *group = qobject_cast<QGroupBox *>(w))
            texts << qMakePair(w, group->title());
        else if (auto *line = qobject_cast<QLineEdit *>(w))
            texts << qMakePair(w, line->placeholderText());
        else if (auto *combo = qobject_cast<QComboBox *>(w))
            for (int i = 0; i < combo->count(); ++i)
                texts << qMakePair(w, combo->itemText(i));
    }
    return texts;
}

// The width a caption needs: its widest line plus the check mark, radio
// circle or frame drawn beside or around it.
int neededWidth(QWidget *w, const QString &text)
{
    int widest = 0;
    for (const QString &line : text.split(QLatin1Char('\n')))
        widest = qMax(widest, w->fontMetrics().horizontalAdvance(line));
    const QStyle *style = w->style();
    if (qobject_cast<QCheckBox *>(w))
        return widest + style->pixelMetric(QStyle::PM_IndicatorWidth) +
               style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
    if (qobject_cast<QRadioButton *>(w))
        return widest + style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth) +
               style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing);
    if (qobject_cast<QPushButton *>(w) || qobject_cast<QGroupBox *>(w))
        return widest + 2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth);
    return widest;
}

QString translationsDirectory()
{
    return qEnvironmentVariable("VORLANT_BUILD_DIR") + QStringLiteral("/translations");
}

} // namespace

class TestTranslations : public QObject {
    Q_OBJECT

    QTemporaryDir m_media;

private slots:
    void initTestCase()
    {
        QImage still(640, 480, QImage::Format_RGB32);
        still.fill(QColor(74, 66, 58));
        QVERIFY(still.save(m_media.filePath(QStringLiteral("camera.png"))));
        Cache::config->appDirPath = QFileInfo(qEnvironmentVariable("VORLANT_BINARY")).absolutePath();
        Cache::config->outputSizes = standardOutputSizes();
        *Cache::cameras = discoverCameraFiles(m_media.filePath(QStringLiteral("camera.png")));
        QCOMPARE(Cache::cameras->size(), 1);
    }

    void chosenLanguage_data()
    {
        QTest::addColumn<QStringList>("preferred");
        QTest::addColumn<QString>("language");
        QTest::newRow("American English") << QStringList{"en-US"} << "en";
        QTest::newRow("British English, underscore") << QStringList{"en_GB"} << "en";
        QTest::newRow("Chinese before English") << QStringList{"zh-Hans-CN", "en-US"} << "";
        QTest::newRow("German, then English") << QStringList{"de-DE", "en-US"} << "en";
        QTest::newRow("German only") << QStringList{"de-DE"} << "";
        QTest::newRow("regional catalogue first") << QStringList{"pt-BR"} << "pt_BR";
    }
    void chosenLanguage()
    {
        QFETCH(QStringList, preferred);
        QFETCH(QString, language);
        QCOMPARE(chooseTranslation(preferred, {"en", "pt_BR", "pt"}), language);
    }

    // Each window, built under the locale: English leaves no Chinese outside
    // user data and every visible caption fits; Chinese shows the designed texts.
    void windows_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("expected");
        const char *const windows[][3] = {
            {"MainWindowQCamera", "Document cut-out", "矫正方式"},
            {"SettingDialog", "Watermark", "水印配置"},
            {"ImageMergingDialog", "In a row", "左右预览"},
            {"ImageSavePDFOrTiffDialog", "At page turn", "翻页自动拍摄"},
            {"CameraViewDialog", "Picture in picture", "画中画"},
        };
        for (const auto &w : windows) {
            QTest::addRow("%s en_US", w[0]) << w[0] << "en_US" << w[1];
            QTest::addRow("%s zh_CN", w[0]) << w[0] << "zh_CN" << w[2];
        }
    }
    void windows()
    {
        QFETCH(QString, window);
        QFETCH(QString, locale);
        QFETCH(QString, expected);
        ScopedWorkingDir wd;
        Cache::config->init();
        Cache::config->update([&wd](ConfigValues &v) { v.userDocumentsLocation = wd.file("work"); });
        InterfaceLanguage language;
        const bool english = locale.startsWith(QLatin1String("en"));
        QCOMPARE(language.install(QLocale(locale), translationsDirectory()), english ? "en" : "");

        MainWindowQCamera main;
        main.show();
        QWidget *shown = &main;
        for (QWidget *w : main.findChildren<QWidget *>())
            if (w->isWindow() && w->inherits(qPrintable(window)))
                shown = w;
        QVERIFY(shown->inherits(qPrintable(window)));
        shown->show();
        QVERIFY(QTest::qWaitForWindowExposed(shown));

        bool found = false;
        for (const auto &[widget, text] : readableTexts(shown)) {
            found = found || text.contains(expected);
            if (!english || text.isEmpty())
                continue;
            const QString where = widget->objectName() + QStringLiteral(": ") + text;
            QVERIFY2(!hasChinese(text), qPrintable(where));
            // Hidden widgets are never shown; labels that wrap and lists scroll.
            const auto *label = qobject_cast<QLabel *>(widget);
            if (!widget->isVisibleTo(shown) || widget == shown || text == widget->toolTip() ||
                qobject_cast<QComboBox *>(widget) || (label && label->wordWrap()))
                continue;
            QVERIFY2(neededWidth(widget, text) <= widget->width(),
                     qPrintable(QStringLiteral("%1 does not fit %2 px").arg(where).arg(widget->width())));
        }
        QVERIFY2(found, qPrintable(expected));
        shown->close();
    }

    // A refusal speaks the interface's language and names what was not saved.
    void mergeRefusalInEnglish()
    {
        ScopedWorkingDir wd;
        QFile(wd.file("blocked")).open(QIODevice::WriteOnly);
        Cache::config->init();
        Cache::config->update([&wd](ConfigValues &v) { v.userDocumentsLocation = wd.file("blocked"); });
        InterfaceLanguage language;
        QCOMPARE(language.install(QLocale(QStringLiteral("en_US")), translationsDirectory()), QString("en"));

        MessageBoxCloser boxes;
        ImageMergingDialog dialog;
        dialog.show();
        const QString photo = m_media.filePath(QStringLiteral("camera.png"));
        dialog.setImage({photo, photo});
        dialog.findChild<QPushButton *>(QStringLiteral("btnSave"))->click();
        QCOMPARE(boxes.seen.size(), 1);
        QVERIFY2(boxes.seen.at(0).startsWith("Warning|") &&
                     boxes.seen.at(0).contains("the merged image was not saved") && !hasChinese(boxes.seen.at(0)),
                 qPrintable(boxes.seen.at(0)));
    }

    // Every entry of the English catalogue is translated, keeps its
    // placeholders, and keeps the line breaks that put a caption under its icon.
    void catalogue_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("translation");
        QTest::addColumn<bool>("finished");
        QFile file(QFINDTESTDATA("../translations/vorlant_en.ts"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&file);
        QString context, source;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == QLatin1String("name")) {
                context = xml.readElementText();
            } else if (xml.name() == QLatin1String("source")) {
                source = xml.readElementText();
            } else if (xml.name() == QLatin1String("translation")) {
                const bool finished = xml.attributes().value(QLatin1String("type")).isEmpty();
                QTest::addRow("%s: %s", qPrintable(context), qPrintable(source.simplified()))
                    << source << xml.readElementText() << finished;
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    }
    void catalogue()
    {
        QFETCH(QString, source);
        QFETCH(QString, translation);
        QFETCH(bool, finished);
        QVERIFY(finished && !translation.trimmed().isEmpty());
        QVERIFY(!hasChinese(translation));
        const auto placeholders = [](const QString &text) {
            QStringList all;
            for (auto it = QRegularExpression(QStringLiteral("%\\d+")).globalMatch(text); it.hasNext();)
                all << it.next().captured();
            all.sort();
            return all;
        };
        QCOMPARE(placeholders(translation), placeholders(source));
        const auto leadingBreaks = [](const QString &text) {
            return text.size() - QString(text).remove(QRegularExpression(QStringLiteral("^\\n+"))).size();
        };
        QCOMPARE(leadingBreaks(translation), leadingBreaks(source));
    }
};

QTEST_MAIN(TestTranslations)
#include "test_translations.moc"
