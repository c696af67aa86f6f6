#include "app/config.h"
#include "support/workingdir.h"

#include <QSettings>
#include <QtTest>

#include <optional>

Q_DECLARE_METATYPE(std::optional<bool>)

class TestSearchablePdf : public QObject {
    Q_OBJECT

private slots:
    void switchesReachTheFileOnlyOnceChanged_data();
    void switchesReachTheFileOnlyOnceChanged();
};

void TestSearchablePdf::switchesReachTheFileOnlyOnceChanged_data()
{
    QTest::addColumn<std::optional<bool>>("autoCapture");
    QTest::addColumn<std::optional<bool>>("ocr");
    QTest::addColumn<QStringList>("extraKeys");

    QTest::newRow("never changed") << std::optional<bool>() << std::optional<bool>() << QStringList{};
    QTest::newRow("page turns on") << std::optional<bool>(true) << std::optional<bool>() << QStringList{"save/pdf_auto_capture"};
    QTest::newRow("both turned off again")
        << std::optional<bool>(false) << std::optional<bool>(false) << QStringList{"save/pdf_auto_capture", "save/pdf_ocr"};
}

void TestSearchablePdf::switchesReachTheFileOnlyOnceChanged()
{
    QFETCH(std::optional<bool>, autoCapture);
    QFETCH(std::optional<bool>, ocr);
    QFETCH(QStringList, extraKeys);

    ScopedWorkingDir wd;
    Config config; // writes the factory file
    QCOMPARE(QSettings("system.ini", QSettings::IniFormat).allKeys().size(), 29);
    config.update([&](ConfigValues &v) {
        v.pdfAutoCapture = autoCapture;
        v.pdfOcr = ocr;
    });
    QVERIFY(config.save());
    const QStringList keys = QSettings("system.ini", QSettings::IniFormat).allKeys();
    QCOMPARE(keys.size(), 29 + extraKeys.size());
    for (const QString &key : extraKeys)
        QVERIFY(keys.contains(key));

    const Config reread;
    QCOMPARE(reread.pdfAutoCapture, autoCapture);
    QCOMPARE(reread.pdfOcr, ocr);

    // The factory settings forget them again.
    config.init();
    QVERIFY(config.save());
    QCOMPARE(QSettings("system.ini", QSettings::IniFormat).allKeys().size(), 29);
}

QTEST_MAIN(TestSearchablePdf)
#include "test_searchablepdf.moc"
