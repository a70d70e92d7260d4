#include "ui/mainwindowprivate.h"

#include "ui/language.h"

#include <QTimer>

MainWindowPrivate::MainWindowPrivate(ProtectionBackend *backend)
    : backend(backend),
      language(Language::instance()),
      clockTimer(new QTimer),
      rowTimer(new QTimer),
      statusTimer(new QTimer),
      historyTimer(new QTimer),
      chartSoon(new QTimer)
{ }

MainWindowPrivate::~MainWindowPrivate()
{
    delete language;
}
