#include "ui/language.h"

#include "storage/apppaths.h"
#include "storage/settings.h"

#include <QAction>
#include <QActionGroup>
#include <QCoreApplication>
#include <QDebug>
#include <QLibraryInfo>
#include <QLocale>

namespace {
Language *s_instance = nullptr;
const QString languageKey() { return QStringLiteral("system/language"); }
} // namespace

Language *Language::instance()
{
    if (!s_instance)
        s_instance = new Language;
    return s_instance;
}

Language::Language()
    : m_files {AppPaths::translateDir() + QStringLiteral("/en.qm"), AppPaths::translateDir() + QStringLiteral("/zh.qm")}
{
}

Language::~Language()
{
    if (s_instance == this)
        s_instance = nullptr;
}

void Language::initialize(QActionGroup *group)
{
    const QVariant saved = readSetting(AppPaths::settingsFilePath(), languageKey());
    int index = English;
    if (saved.isValid()) {
        index = saved.toInt();
        // Only a hand-edited file holds anything else; there are just two languages to choose from.
        if (index != English && index != Chinese)
            index = English;
    } else {
        writeSetting(AppPaths::settingsFilePath(), languageKey(), index);
    }
    setLanguage(index);
    if (group) {
        const QList<QAction *> actions = group->actions();
        if (index < actions.size())
            actions.at(index)->setChecked(true);
    }
}

void Language::setLanguage(int index)
{
    if (index < 0 || index >= m_files.size())
        return;
    // A translator installed twice stays twice in the application's list; take it out first.
    QCoreApplication::removeTranslator(&m_translator);
    QCoreApplication::removeTranslator(&m_qtTranslator);
    const QString qtName = qtTranslationName(index);
    if (!qtName.isEmpty()) {
        if (m_qtTranslator.load(qtName, qtTranslationsDir()))
            QCoreApplication::installTranslator(&m_qtTranslator);
        else
            qInfo() << "Qt's own translation" << qtName << "not found in" << qtTranslationsDir();
    }
    if (m_translator.load(m_files.at(index)))
        QCoreApplication::installTranslator(&m_translator);
    // Day and month names of the calendar pop-ups and file dialogs come from the locale, not the translator.
    QLocale::setDefault(index == Chinese ? QLocale(QLocale::Chinese, QLocale::China)
                                         : QLocale(QLocale::English, QLocale::UnitedStates));
    m_index = index;
    writeSetting(AppPaths::settingsFilePath(), languageKey(), index);
}

QString Language::qtTranslationName(int index)
{
    return index == Chinese ? QStringLiteral("qtbase_zh_CN") : QString();
}

QString Language::qtTranslationsDir()
{
    return QLibraryInfo::location(QLibraryInfo::TranslationsPath);
}

QString Language::eventSection()
{
    return s_instance && s_instance->m_index == Chinese ? QStringLiteral("Event_Chinese")
                                                        : QStringLiteral("Event_English");
}
