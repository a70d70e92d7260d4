#pragma once

#include "snmp/snmpinfo.h"
#include "support/scratchapp.h"
#include "ui/userprompt.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>
#include <initializer_list>
#include <memory>

class MainWindow;
class QTableWidget;

// Helpers shared by the window tests: a scratch installation with a catalogue of known texts, the database,
// a recorder that answers every message box, and a window whose protection can never shut the machine down.
namespace WindowKit {

// Codes 1 and 8 have texts in both sections; code 2 (a pop-up code) has none.
inline constexpr char catalogue[] = "[Event_English]\n$Back = 1\n$T = 8\n$Lost = 0\n"
                                    "[Event_Chinese]\n$回来 = 1\n$电池低 = 8\n";

// Writes the test catalogue (unless told otherwise) and creates the schema in the scratch directory.
void prepare(const ScratchApp &app, const QByteArray &catalogueText = QByteArray(catalogue));

SNMPInfo card(const QString &ip, int port = 161);
void addSession(const QString &ip, int port = 161);
QList<QPair<QString, int>> storedEvents();

// A window with a recorder in place of the system shutdown.
std::unique_ptr<MainWindow> makeWindow(int *shutdownRequests = nullptr);

QTableWidget *eventTable(MainWindow &window);
QString cell(QTableWidget *table, int row, int column);
// The rows as "Object|Event".
QStringList rows(QTableWidget *table);

// Texts from UTF-8 literals.
QStringList texts(std::initializer_list<const char *> items);

void writeSettingValue(const QString &key, const QVariant &value);

// Answers every box and file dialog with button 0 and keeps what was asked; `during` runs inside the box,
// where a real box would run its nested event loop.
class PromptRecorder
{
public:
    explicit PromptRecorder(std::function<void(const UserPrompt::Request &)> during = {});
    ~PromptRecorder();
    QList<UserPrompt::Request> requests;
    int open = 0;
    int maxOpen = 0;

private:
    std::function<void(const UserPrompt::Request &)> m_during;
};

} // namespace WindowKit
