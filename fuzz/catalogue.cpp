// Fuzz target: the event catalogue parser, checked against a plain byte-level reading of the file format.
// Any disagreement between the two, or a crash, stops the fuzzer.
#include "storage/eventcatalogue.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

using Sections = QMap<QString, QMap<int, QString>>;

bool blank(char c) { return c == ' ' || c == '\t'; }

// Decodes a piece of a line as the line's own decoding would: a lead byte keeps Qt from eating a byte-order
// mark at the start of the piece.
QString decodePiece(const std::string &bytes)
{
    const std::string withLead = "x" + bytes;
    return QString::fromUtf8(withLead.data(), int(withLead.size())).mid(1);
}

// Strict whole-string integer, optional sign, in the given base; anything else (blanks, trailing text,
// out of 32-bit range) is code 0.
int strictCode(const std::string &value)
{
    int base = 10;
    std::string digits = value;
    if (value.compare(0, 2, "0x") == 0) {
        base = 16;
        digits = value.substr(2);
    }
    size_t i = 0;
    bool negative = false;
    if (i < digits.size() && (digits[i] == '+' || digits[i] == '-')) {
        negative = digits[i] == '-';
        ++i;
    }
    if (i == digits.size())
        return 0;
    long long n = 0;
    for (; i < digits.size(); ++i) {
        const char c = digits[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return 0;
        n = n * base + d;
        if (n > 0x80000000LL)
            return 0;
    }
    if (negative)
        n = -n;
    if (n > 0x7fffffffLL || n < -0x80000000LL)
        return 0;
    return int(n);
}

Sections reference(const std::string &content)
{
    Sections out;
    bool inSection = false;
    QString name;
    QMap<int, QString> entries;
    size_t start = 0;
    while (start <= content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos)
            end = content.size();
        const std::string line = content.substr(start, end - start);
        start = end + 1;
        if (line.empty())
            continue;
        if (line[0] == '[' && line.find(']', 1) != std::string::npos) {
            if (inSection)
                out.insert(name, entries);
            const size_t close = line.find(']', 1);
            name = decodePiece(line.substr(1, close - 1));
            entries.clear();
            inSection = true;
        } else if (line[0] == '$' && inSection) {
            std::string s = line;
            const size_t hash = s.find('#');
            if (hash != std::string::npos)
                s.resize(hash);
            s.erase(0, 1);
            while (!s.empty() && (blank(s.back()) || s.back() == '\r' || s.back() == '\n'))
                s.pop_back();
            size_t lead = 0;
            while (lead < s.size() && blank(s[lead]))
                ++lead;
            s.erase(0, lead);
            const size_t eq = s.find('=');
            if (eq == std::string::npos || eq == 0)
                continue;
            std::string text = s.substr(0, eq);
            while (!text.empty() && blank(text.back()))
                text.pop_back();
            std::string value = s.substr(eq + 1);
            size_t vlead = 0;
            while (vlead < value.size() && blank(value[vlead]))
                ++vlead;
            value.erase(0, vlead);
            if (value.empty())
                continue;
            entries.insert(strictCode(value), decodePiece(text));
        }
        if (end == content.size())
            break;
    }
    if (inSection)
        out.insert(name, entries);
    return out;
}

[[noreturn]] void disagree(const char *what, const QString &section, int code)
{
    std::fprintf(stderr, "catalogue parser disagrees with the file format: %s (section \"%s\", code %d)\n", what,
                 section.toUtf8().constData(), code);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const Sections parsed = EventCatalogue::parse(bytes);
    const Sections expected = reference(std::string(reinterpret_cast<const char *>(data), size));

    if (parsed.keys() != expected.keys())
        disagree("section names", QString(), 0);
    for (auto s = expected.cbegin(); s != expected.cend(); ++s) {
        const QMap<int, QString> &got = parsed[s.key()];
        if (got.keys() != s->keys())
            disagree("codes", s.key(), got.size());
        for (auto e = s->cbegin(); e != s->cend(); ++e) {
            if (got.value(e.key()) != e.value())
                disagree("text", s.key(), e.key());
        }
    }
    return 0;
}
