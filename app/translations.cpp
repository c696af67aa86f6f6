#include "app/translations.h"

#include "app/logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>

namespace {

const QString kProgramCatalogue = QStringLiteral("vorlant_");
const QString kQtCatalogue = QStringLiteral("qtbase_");
const QString kCatalogueSuffix = QStringLiteral(".qm");
// The language of the source texts, and of Qt's translation that matches them.
const QString kSourceLanguage = QStringLiteral("zh");
const QString kSourceQtLanguage = QStringLiteral("zh_CN");

} // namespace

QString chooseTranslation(const QStringList &preferred, const QStringList &available)
{
    for (QString name : preferred) {
        name.replace(QLatin1Char('-'), QLatin1Char('_'));
        const QString language = name.section(QLatin1Char('_'), 0, 0).toLower();
        if (language == kSourceLanguage)
            return {};
        if (available.contains(name))
            return name;
        if (available.contains(language))
            return language;
    }
    return {};
}

QStringList availableTranslations(const QString &directory)
{
    QStringList languages;
    const QStringList files =
        QDir(directory).entryList({kProgramCatalogue + QLatin1Char('*') + kCatalogueSuffix}, QDir::Files);
    for (const QString &file : files)
        languages << file.mid(kProgramCatalogue.size(),
                              file.size() - kProgramCatalogue.size() - kCatalogueSuffix.size());
    return languages;
}

QString programTranslationsDirectory()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/translations");
}

QString InterfaceLanguage::install(const QLocale &locale, const QString &directory)
{
    QCoreApplication::removeTranslator(&m_program);
    QCoreApplication::removeTranslator(&m_qt);

    QString language = chooseTranslation(locale.uiLanguages(), availableTranslations(directory));
    if (!language.isEmpty()) {
        if (m_program.load(kProgramCatalogue + language, directory)) {
            QCoreApplication::installTranslator(&m_program);
        } else {
            qCWarning(lcStartup).noquote() << "cannot read the translation" << language << "in" << directory;
            language.clear();
        }
    }
    // Qt's own dialogs and buttons speak the same language as the rest.
    const QString qtLanguage = language.isEmpty() ? kSourceQtLanguage : language;
    if (m_qt.load(kQtCatalogue + qtLanguage, QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&m_qt);
    else
        qCDebug(lcStartup).noquote() << "no Qt translation" << qtLanguage;
    return language;
}
