#pragma once

#include <QObject>
#include <QString>

#include <memory>

// Listens for the traps and informs that the cards send on their own, on UDP port 162 (IPv4 on every
// address, IPv6 on the loopback only): on the sockets systemd passed, or bound here when started by hand. Lives in the
// GUI thread; its library callback runs on the engine thread and decodes there; an inform is acknowledged from the
// engine thread once its event is stored.
class SNMPTrapd : public QObject
{
    Q_OBJECT
public:
    explicit SNMPTrapd(QObject *parent = nullptr);
    ~SNMPTrapd() override;

    void startListening();
    void stopListening();

    int sessionCount() const;

    // The sender address out of the transport's address text: what lies between the first "[" and the
    // next "]" ("UDP: [10.0.0.7]:1024->[0.0.0.0]:162" gives 10.0.0.7). Without "]" it runs to the end;
    // without "[" it starts at the beginning.
    static QString hostFromAddressText(const char *text);

signals:
    void eventTriggered(const QString &host, int type);

public slots:
    void onGotTrapdData(const QString &host, int trap, quint64 acknowledgement);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
