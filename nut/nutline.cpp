#include "nut/nutline.h"

#include <QTextCodec>

namespace NutLine {

Parsed parse(const QByteArray &raw)
{
    Parsed parsed;
    QByteArray line = raw;
    if (line.endsWith('\r'))
        line.chop(1);
    if (line.contains('\0')) {
        parsed.error = Error::NotText;
        return parsed;
    }
    QTextCodec::ConverterState state;
    const QString text = QTextCodec::codecForName("UTF-8")->toUnicode(line.constData(), line.size(), &state);
    if (state.invalidChars > 0) {
        parsed.error = Error::NotText;
        return parsed;
    }

    QString word;
    bool inWord = false;
    bool inQuotes = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\\')) {
            if (i + 1 >= text.size()) {
                parsed.error = Error::TrailingBackslash;
                parsed.words.clear();
                return parsed;
            }
            word += text.at(++i);
            inWord = true;
        } else if (c == QLatin1Char('"')) {
            // A quote opens or closes a quoted stretch of the word; "" is an empty word.
            inQuotes = !inQuotes;
            inWord = true;
        } else if (!inQuotes && (c == QLatin1Char(' ') || c == QLatin1Char('\t'))) {
            if (inWord)
                parsed.words.append(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inQuotes) {
        parsed.error = Error::UnterminatedQuote;
        parsed.words.clear();
        return parsed;
    }
    if (inWord)
        parsed.words.append(word);
    return parsed;
}

QByteArray quoted(const QString &value)
{
    QByteArray out;
    out.reserve(value.size() + 2);
    out += '"';
    for (const char c : value.toUtf8()) {
        if (c == '"' || c == '\\')
            out += '\\';
        // A line break would end the answer's line early: the protocol has no escape for it.
        out += (c == '\n' || c == '\r') ? ' ' : c;
    }
    out += '"';
    return out;
}

} // namespace NutLine
