#include "storage/eventcatalogue.h"

#include <QFile>
#include <QHash>

namespace {
QHash<QString, EventCatalogue *> &registry()
{
    static auto *map = new QHash<QString, EventCatalogue *>; // never freed: catalogues may outlive statics
    return *map;
}

bool isBlank(QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); }

QString trimmedRight(QString s, bool lineEnds)
{
    int n = s.size();
    while (n > 0 && (isBlank(s.at(n - 1)) || (lineEnds && (s.at(n - 1) == QLatin1Char('\r') || s.at(n - 1) == QLatin1Char('\n')))))
        --n;
    s.truncate(n);
    return s;
}

QString trimmedLeft(const QString &s)
{
    int i = 0;
    while (i < s.size() && isBlank(s.at(i)))
        ++i;
    return s.mid(i);
}

int parseCode(const QString &value)
{
    const bool hex = value.startsWith(QLatin1String("0x"));
    const QString digits = hex ? value.mid(2) : value;
    // Qt's conversion would skip white space around the number and take a second "0x"; the value must be whole.
    for (int i = 0; i < digits.size(); ++i) {
        const char c = digits.at(i).toLatin1();
        const bool sign = i == 0 && (c == '+' || c == '-');
        const bool digit = (c >= '0' && c <= '9') || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
        if (!sign && !digit)
            return 0;
    }
    bool ok = false;
    const int code = digits.toInt(&ok, hex ? 16 : 10);
    return ok ? code : 0;
}
} // namespace

EventCatalogue::EventCatalogue(const QString &path)
    : m_path(path)
{
    registry().insert(path, this);
    QFile file(path);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text))
        m_sections = parse(file.readAll());
}

EventCatalogue::~EventCatalogue()
{
    auto it = registry().find(m_path);
    if (it != registry().end() && it.value() == this)
        registry().erase(it);
}

EventCatalogue *EventCatalogue::find(const QString &path) { return registry().value(path, nullptr); }

QString EventCatalogue::text(const QString &section, int code) const
{
    auto it = m_sections.constFind(section);
    return it == m_sections.constEnd() ? QString() : it->value(code);
}

QMap<QString, QMap<int, QString>> EventCatalogue::parse(const QByteArray &content)
{
    QMap<QString, QMap<int, QString>> sections;
    bool inSection = false;
    QString name;
    QMap<int, QString> entries;

    const QList<QByteArray> lines = content.split('\n');
    for (const QByteArray &raw : lines) {
        if (raw.isEmpty())
            continue;
        const char first = raw.at(0);
        if (first == '[' && raw.indexOf(']', 1) > 0) {
            if (inSection)
                sections.insert(name, entries); // a repeated section replaces the earlier block whole
            const QString line = QString::fromUtf8(raw.constData(), raw.size()); // a NUL must not end the line
            const int close = line.indexOf(QLatin1Char(']'), 1);
            name = line.mid(1, close - 1);
            entries.clear();
            inSection = true;
        } else if (first == '$' && inSection) {
            QString line = QString::fromUtf8(raw.constData(), raw.size());
            const int hash = line.indexOf(QLatin1Char('#'));
            if (hash >= 0)
                line.truncate(hash);
            line = trimmedLeft(trimmedRight(line.mid(1), true));
            const int eq = line.indexOf(QLatin1Char('='));
            if (eq <= 0)
                continue;
            const QString text = trimmedRight(line.left(eq), false);
            const QString value = trimmedLeft(line.mid(eq + 1));
            if (value.isEmpty())
                continue;
            entries.insert(parseCode(value), text);
        }
    }
    if (inSection)
        sections.insert(name, entries);
    return sections;
}
