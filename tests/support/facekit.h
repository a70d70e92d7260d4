#pragma once

#include "backend/localbackend.h"
#include "backend/protectionbackend.h"
#include "policy/protection.h"
#include "policy/shutdownpolicy.h"
#include "snmp/snmpinfo.h"
#include "storage/database.h"
#include "support/scratchapp.h"
#include "ui/mainwindow.h"
#include "ui/userprompt.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QList>
#include <QPair>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

#include <functional>
#include <initializer_list>
#include <memory>

class QTableWidget;
class SNMP;

// The one rig of the window, dialog and fault tests: a scratch installation, cards as the user enters them, the
// program's store read back directly, a recorder that answers every message box, and a window in front of a
// LocalBackend whose protection can never shut the machine down.
namespace FaceKit {

// Codes 1 and 8 have texts in both sections; code 2 (a pop-up code) has none.
inline constexpr char catalogue[] = "[Event_English]\n$Back = 1\n$T = 8\n$Lost = 0\n"
                                    "[Event_Chinese]\n$回来 = 1\n$电池低 = 8\n";

// Writes the test catalogue (unless told otherwise), creates the schema in the scratch directory and switches
// the pop-ups off.
void prepare(const ScratchApp &app, const QByteArray &catalogueText = QByteArray(catalogue));

// Cards as the dialog builds them.
SNMPInfo card(const QString &ip, int port = 161, const QString &community = QStringLiteral("public"));
SNMPInfo usmCard(const QString &ip, int port, const QString &user, const QString &password, int auth = 1, int priv = 1);
bool sameInfo(const SNMPInfo &a, const SNMPInfo &b);

// The program's store inside the scratch directory, set up and read back without the code under test.
namespace Store {
QSqlDatabase db();
bool exec(const QString &sql);
void insert(const SNMPInfo &info);
void addSession(const QString &ip, int port = 161);
// Rows of the host table as maps of column name to value, in id order.
QList<QVariantMap> hostRows();
// Host and code of every stored event, in id order, after what was handed to the store is written.
QList<QPair<QString, int>> events();
void setReadOnly(bool on);
// An empty host table and no settings file.
void reset();
// An invalid value removes the key.
void writeSetting(const QString &key, const QVariant &value);
} // namespace Store

// A scratch installation with the schema, for the dialog tests.
class HostStore
{
public:
    HostStore() : app(ScratchApp::Installed) { Database::instance()->createTables(); }
    QSqlDatabase db() const { return Store::db(); }
    bool exec(const QString &sql) const { return Store::exec(sql); }
    void reset() { Store::reset(); }
    void setReadOnly(bool on) const { Store::setReadOnly(on); }
    void insert(const SNMPInfo &info) const { Store::insert(info); }
    QList<QVariantMap> rows() const { return Store::hostRows(); }

    ScratchApp app;
};

// How a backend request ended, waited for in the event loop (at most 10 s).
BackendReply wait(const std::function<void(QObject *context, ProtectionBackend::Done done)> &request);
BackendReply addHost(ProtectionBackend &backend, const SNMPInfo &info);
BackendReply modifyHost(ProtectionBackend &backend, const SNMPInfo &info, const QString &oldIp);
BackendReply removeHost(ProtectionBackend &backend, const QString &ip);
BackendReply writeSettings(ProtectionBackend &backend, const QVariantMap &values);
// The stored cards as a dialog gets them; empty when the backend does not answer.
QList<StoredCard> storedCards(ProtectionBackend &backend);
StoredCard storedCard(ProtectionBackend &backend, const QString &ip);

// A LocalBackend with a recorder in place of the system shutdown; it lives before and after the window.
class BackendHolder
{
public:
    explicit BackendHolder(int *shutdownRequests);
    ~BackendHolder();
    LocalBackend *backend() const { return m_backend.get(); }
    Protection *protection() const;
    ShutdownPolicy *shutdownPolicy() const;
    void setEngine(SNMP *engine);

protected:
    std::unique_ptr<LocalBackend> m_backend;
};

// The window alone, as the program runs it without the service.
class Window : public BackendHolder, public MainWindow
{
public:
    explicit Window(int *shutdownRequests = nullptr) : BackendHolder(shutdownRequests), MainWindow(backend()) { }
};

std::unique_ptr<Window> makeWindow(int *shutdownRequests = nullptr);

QTableWidget *eventTable(MainWindow &window);
QString cell(QTableWidget *table, int row, int column);
// The rows as "Object|Event".
QStringList rows(QTableWidget *table);

// Texts from UTF-8 literals.
QStringList texts(std::initializer_list<const char *> items);

// Answers every box and file dialog instead of a person and keeps what each one said: with the answers given in
// order, then button 0 and no path. `during` runs inside the box, where a real box would run its nested loop.
class PromptRecorder
{
public:
    explicit PromptRecorder(std::function<void(const UserPrompt::Request &)> during = {});
    ~PromptRecorder();
    QStringList texts() const;
    void clear() { requests.clear(); }

    QList<UserPrompt::Request> requests;
    QList<UserPrompt::Answer> answers;
    int open = 0;
    int maxOpen = 0;

private:
    std::function<void(const UserPrompt::Request &)> m_during;
};

// Acts on the next modal window of type T that appears (a dialog run with exec()); polls for at most 5 s so a
// test never hangs on a window that did not come.
template<typename T> void whenModal(std::function<void(T *)> act)
{
    auto *timer = new QTimer;
    auto *clock = new QElapsedTimer;
    clock->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, clock, act] {
        T *modal = qobject_cast<T *>(QApplication::activeModalWidget());
        if (!modal && clock->elapsed() < 5000)
            return;
        timer->stop();
        timer->deleteLater();
        delete clock;
        if (modal)
            act(modal);
    });
    timer->start();
}

// The window offers the close button alone: none of minimise, maximise or context help.
bool closeButtonOnly(const QWidget &w);

} // namespace FaceKit
