#pragma once

#include "storage/logthrottle.h"

#include <QString>

#include <memory>

class EventCatalogue;

// The texts of events as the program shows them: the catalogue of the installation, and one diagnostic line
// per sender and minute for a code it has no text for. GUI thread only.
class EventTexts
{
public:
    explicit EventTexts(const QString &cataloguePath);
    ~EventTexts();
    EventTexts(const EventTexts &) = delete;
    EventTexts &operator=(const EventTexts &) = delete;

    // The text of event from host in a language section; empty when the catalogue has none.
    QString text(const QString &host, int event, const QString &section);
    EventCatalogue *catalogue() const { return m_catalogue.get(); }

private:
    std::unique_ptr<EventCatalogue> m_catalogue;
    LogThrottle m_unknownCodeLog;
};
