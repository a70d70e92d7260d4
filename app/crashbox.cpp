// Shows the "Crash" box for a process that has just crashed. Started by the crash handler with the code and
// the address already formatted; a separate process, because nothing of Qt may run inside a signal handler.
#include <QApplication>
#include <QMessageBox>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString code = args.value(1, QStringLiteral("0x0"));
    const QString address = args.value(2, QStringLiteral("0x0"));
    QMessageBox::critical(nullptr, QStringLiteral("Crash"), QStringLiteral("Code: %1, address: %2").arg(code, address),
                          QMessageBox::Ok);
    return 0;
}
