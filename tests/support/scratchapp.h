#pragma once

#include <QString>
#include <QTemporaryDir>

// A throwaway application directory: the program's paths point into it while the object lives.
class ScratchApp
{
public:
    enum Content { Empty = 0, WithCatalogue = 1, WithTranslations = 2, Installed = WithCatalogue | WithTranslations };
    explicit ScratchApp(int content = Installed);
    ~ScratchApp();

    QString path(const QString &relative = QString()) const;
    bool isValid() const { return m_dir.isValid(); }

private:
    QTemporaryDir m_dir;
};

// Where the build left the program and its files, and where the sources are (set by the test registration).
QString buildBinDir();
QString sourceDir();
