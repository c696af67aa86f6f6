#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>
#include <QTranslator>

// The interface language, from the user's preferred languages (most wanted
// first, as QLocale::uiLanguages() gives them, "en-US" or "en_US") and the
// translations at hand ("en", "pt_BR", ...): the first preference that has a
// translation, by full name or by language. Empty means the Chinese source
// texts, which any Chinese preference met first, and any list without a
// translation, also gets.
QString chooseTranslation(const QStringList &preferred, const QStringList &available);

// The languages of the program's translations in `directory` (vorlant_<language>.qm).
QStringList availableTranslations(const QString &directory);

// Where the program's translations live, beside the program.
QString programTranslationsDirectory();

// The program's translation and Qt's own for one language, installed in the
// application while this object lives. Needs an application object.
class InterfaceLanguage {
public:
    // Chooses the language for `locale` among the translations in
    // `directory`; returns it (empty for Chinese).
    QString install(const QLocale &locale, const QString &directory);

private:
    QTranslator m_program;
    QTranslator m_qt;
};
