#include "nut/nutquery.h"

#include "nut/nutline.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

namespace {
// Requests in the order their answers come back.
const char *const askedVariables[] = {"ups.status", "battery.charge", "ups.model"};
constexpr int askedCount = int(sizeof(askedVariables) / sizeof(askedVariables[0]));
constexpr int maxAnswerBytes = 4096;
} // namespace

namespace NutQuery {

void start(const SNMPInfo &server, QObject *context, std::function<void(const NutAnswer &)> done)
{
    auto *socket = new QTcpSocket;
    auto *timer = new QTimer(socket);
    timer->setSingleShot(true);
    auto answer = std::make_shared<NutAnswer>();
    auto buffer = std::make_shared<QByteArray>();
    auto answered = std::make_shared<int>(0);
    QPointer<QObject> guard(context);
    // Ends the query once: the callback, then the socket goes with its timer.
    auto finish = [socket, answer, guard, done](NutAnswer::Outcome outcome, const QString &error = QString()) {
        if (socket->property("finished").toBool())
            return;
        socket->setProperty("finished", true);
        answer->outcome = outcome;
        if (!error.isNull())
            answer->error = error;
        socket->disconnect();
        socket->abort();
        socket->deleteLater();
        if (guard)
            QMetaObject::invokeMethod(
                guard, [done, result = *answer] { done(result); }, Qt::QueuedConnection);
    };
    QObject::connect(timer, &QTimer::timeout, socket, [finish] { finish(NutAnswer::NoAnswer); });
    QObject::connect(socket, &QTcpSocket::connected, socket, [socket, server] {
        QByteArray request;
        for (const char *variable : askedVariables)
            request += "GET VAR " + NutLine::quoted(server.community) + ' ' + variable + '\n';
        socket->write(request);
    });
    QObject::connect(socket, &QAbstractSocket::errorOccurred, socket, [socket, finish](QAbstractSocket::SocketError e) {
        finish(e == QAbstractSocket::ConnectionRefusedError ? NutAnswer::Refused : NutAnswer::Unreachable,
            socket->errorString());
    });
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, buffer, answered, answer, finish] {
        *buffer += socket->readAll();
        for (int end = buffer->indexOf('\n'); end >= 0; end = buffer->indexOf('\n')) {
            const NutLine::Parsed line = NutLine::parse(buffer->left(end));
            buffer->remove(0, end + 1);
            const QString variable = QLatin1String(askedVariables[*answered]);
            ++*answered;
            if (line.ok() && line.words.size() == 4 && line.words.at(0) == QLatin1String("VAR")
                && line.words.at(2) == variable) {
                const QString value = line.words.at(3);
                if (*answered == 1)
                    answer->status = value;
                else if (*answered == 2)
                    answer->charge = value;
                else
                    answer->model = value;
            } else if (*answered == 1) {
                // Only the status matters: without it the server has told nothing of the UPS.
                const bool error = line.ok() && line.words.value(0) == QLatin1String("ERR");
                finish(NutAnswer::ServerError, error ? line.words.value(1) : QString::fromLatin1("UNEXPECTED-ANSWER"));
                return;
            }
            if (*answered == askedCount) {
                finish(NutAnswer::Answered);
                return;
            }
        }
        if (buffer->size() > maxAnswerBytes)
            finish(NutAnswer::ServerError, QStringLiteral("UNEXPECTED-ANSWER"));
    });
    timer->start(timeoutMs);
    socket->connectToHost(server.ip, quint16(server.port));
}

} // namespace NutQuery
