#pragma once

#include <QObject>
#include <QStringList>
#include <QTranslator>

class QActionGroup;

// The interface language: owns the application's one translator and remembers the choice in the settings file.
// Created on first use; its owner (the main window's private record) deletes it. GUI thread only.
class Language : public QObject
{
    Q_OBJECT
public:
    enum Index { English = 0, Chinese = 1 };

    static Language *instance();
    ~Language() override;

    // Qt's translation file of the language at index, without directory and suffix; empty for English, in
    // which Qt's texts are written.
    static QString qtTranslationName(int index);
    static QString qtTranslationsDir();

    // Restores the saved language and checks its entry in the group (English first, then Chinese).
    void initialize(QActionGroup *group);
    void setLanguage(int index);
    int currentIndex() const { return m_index; }

    // The catalogue section of the current language; reads the existing object, never creates it.
    static QString eventSection();

private:
    Language();

    int m_index = English;
    QStringList m_files;
    QTranslator m_translator;
    // Qt's own texts (file dialogs, standard buttons, text field menus), from Qt's translations directory.
    QTranslator m_qtTranslator;
};
