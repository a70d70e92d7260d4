#include "service/authorizer.h"

#include <QDBusArgument>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QObject>

namespace {
// Long enough for a person to type a password into the agent's dialog.
constexpr int authorizationTimeoutMs = 120000;
constexpr uint allowUserInteraction = 1;
} // namespace

Authorizer::Authorizer(const QDBusConnection &bus) : m_bus(bus)
{ }

void Authorizer::check(const QDBusMessage &request, const QString &action, QObject *context,
    std::function<void(bool allowed, const QString &why)> done)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.PolicyKit1"),
        QStringLiteral("/org/freedesktop/PolicyKit1/Authority"), QStringLiteral("org.freedesktop.PolicyKit1.Authority"),
        QStringLiteral("CheckAuthorization"));
    // (sa{sv}): the caller as polkit knows a bus client, by its unique name.
    QDBusArgument subject;
    subject.beginStructure();
    subject << QStringLiteral("system-bus-name");
    subject.beginMap(QMetaType::QString, qMetaTypeId<QDBusVariant>());
    subject.beginMapEntry();
    subject << QStringLiteral("name") << QDBusVariant(request.service());
    subject.endMapEntry();
    subject.endMap();
    subject.endStructure();
    QDBusArgument details;
    details.beginMap(QMetaType::QString, QMetaType::QString);
    details.endMap();
    // Interaction allowed: the caller's agent may ask an administrator, which is the only way to the
    // application's action.
    call << QVariant::fromValue(subject) << action << QVariant::fromValue(details) << allowUserInteraction << QString();

    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, authorizationTimeoutMs), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [watcher, done] {
        watcher->deleteLater();
        const QDBusMessage reply = watcher->reply();
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            done(false, QStringLiteral("polkit gives no answer: ") + watcher->error().message());
            return;
        }
        // (bba{ss}): is_authorized, is_challenge, details.
        bool authorized = false;
        bool challenge = false;
        const QDBusArgument result = reply.arguments().at(0).value<QDBusArgument>();
        result.beginStructure();
        result >> authorized >> challenge;
        result.endStructure();
        if (authorized)
            done(true, QString());
        else if (challenge) // no agent of the caller's session could ask for the password
            done(false, QStringLiteral("not authorised (an administrator's authentication is needed)"));
        else
            done(false, QStringLiteral("not authorised"));
    });
}
