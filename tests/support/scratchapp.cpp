#include "support/scratchapp.h"

#include "storage/apppaths.h"

#include <QDir>
#include <QFile>

QString buildBinDir() { return qEnvironmentVariable("VIGILEX_BIN_DIR"); }
QString sourceDir() { return qEnvironmentVariable("VIGILEX_SOURCE_DIR"); }

ScratchApp::ScratchApp(int content)
{
    QDir root(m_dir.path());
    for (const char *sub : {"cfg", "log", "data", "translate"})
        root.mkdir(QLatin1String(sub));
    if (content & WithCatalogue)
        QFile::copy(buildBinDir() + QStringLiteral("/cfg/vigilex.cfg"), path(QStringLiteral("cfg/vigilex.cfg")));
    if (content & WithTranslations) {
        for (const char *qm : {"en.qm", "zh.qm"})
            QFile::copy(buildBinDir() + QStringLiteral("/translate/") + QLatin1String(qm),
                        path(QStringLiteral("translate/") + QLatin1String(qm)));
    }
    AppPaths::setRoot(m_dir.path());
}

ScratchApp::~ScratchApp() { AppPaths::setRoot(QString()); }

QString ScratchApp::path(const QString &relative) const
{
    return relative.isEmpty() ? m_dir.path() : m_dir.path() + QLatin1Char('/') + relative;
}
