#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// One request line of the network UPS protocol: words split at blanks, a double-quoted word may hold blanks,
// and a backslash takes the next character as it is, inside quotes or not (as upsd's parser does). Any thread.
namespace NutLine {

// upsd's bound on a request line, its end of line included; a longer one ends the connection.
inline constexpr int maxLength = 512;

enum class Error
{
    None,
    UnterminatedQuote,
    TrailingBackslash,
    NotText // a NUL or a byte sequence that is no UTF-8
};

struct Parsed
{
    QStringList words;
    Error error = Error::None;
    bool ok() const { return error == Error::None; }
};

// The line without its end of line (a trailing CR is dropped too).
Parsed parse(const QByteArray &line);
// A value as an answer carries it: in double quotes, with quote and backslash escaped.
QByteArray quoted(const QString &value);

} // namespace NutLine
