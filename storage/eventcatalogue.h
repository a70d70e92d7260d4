#pragma once

#include <QMap>
#include <QString>

// Event code to text, per language section, read once from the catalogue file. Users other than its owner
// find it through a registry keyed by the path it was built from. GUI thread only.
class EventCatalogue
{
public:
    explicit EventCatalogue(const QString &path);
    ~EventCatalogue();
    EventCatalogue(const EventCatalogue &) = delete;
    EventCatalogue &operator=(const EventCatalogue &) = delete;

    static EventCatalogue *find(const QString &path);

    QString text(const QString &section, int code) const;
    QString path() const { return m_path; }

    // The parser on its own, for files and for fuzzing: section name to (code to text).
    static QMap<QString, QMap<int, QString>> parse(const QByteArray &content);

private:
    QString m_path;
    QMap<QString, QMap<int, QString>> m_sections;
};
