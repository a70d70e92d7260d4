#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

// Every message box and file dialog of the program goes through here, so that a test can answer it instead
// of a person. The boxes are the static calls that take button texts; the result is the index of the
// button chosen (0 is the default button). GUI thread only.
namespace UserPrompt {

enum class Kind { Warning, Information, Critical, OpenFile, SaveFile };

struct Request
{
    Kind kind;
    QWidget *parent;
    QString title;
    QString text;        // box text; for file dialogs the start directory
    QStringList buttons; // box buttons; for file dialogs the name filters
};

// The answer of a test: a button index for boxes, a path (or empty for "cancelled") for file dialogs, and for
// a save dialog the name filter chosen (empty: none reported, as some desktop portals do).
struct Answer
{
    int button = 0;
    QString path;
    QString filter;
};

int warning(QWidget *parent, const QString &title, const QString &text, const QString &button0,
            const QString &button1 = QString());
int information(QWidget *parent, const QString &title, const QString &text, const QString &button0,
                const QString &button1 = QString());
int critical(QWidget *parent, const QString &title, const QString &text, const QString &button0);

QString openFileName(QWidget *parent, const QString &caption, const QString &dir, const QString &filter = QString());
// A save dialog with name filters starting in dir, modal; empty when cancelled. The filter the user chose goes to
// selectedFilter. Linux dialogs add no extension of their own, so the caller decides from the filter.
QString saveFileName(
    QWidget *parent, const QString &caption, const QString &dir, const QStringList &filters, QString *selectedFilter);

// Tests install a hook that sees every request and answers it; without a hook the real dialogs run.
using Hook = std::function<Answer(const Request &)>;
void setHook(Hook hook);
bool hasHook();

} // namespace UserPrompt
