#include "storage/eventtexts.h"

#include "storage/eventcatalogue.h"

#include <QDebug>

EventTexts::EventTexts(const QString &cataloguePath) : m_catalogue(new EventCatalogue(cataloguePath))
{ }

EventTexts::~EventTexts() = default;

QString EventTexts::text(const QString &host, int event, const QString &section)
{
    const QString text = m_catalogue->text(section, event);
    if (!text.isEmpty())
        return text;
    // A sender can send unknown codes without end: one line a minute per sender, with the count.
    const qint64 count = m_unknownCodeLog.hit(host, LogThrottle::steadyMs());
    if (count == 1)
        qInfo() << "Event triggered, code:" << event;
    else if (count > 1)
        qInfo() << "Event triggered, code:" << event << "(" << count << "events without text from" << host
                << "in the last minute or more)";
    return text;
}
