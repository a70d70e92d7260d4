// Fuzz target: one request line of the network UPS protocol. The parser must never crash, must refuse what
// is no text, and whatever it accepts must come back as the same words once each word is quoted as an
// answer quotes it (a word holding a line break aside, which no answer may carry).
#include "nut/nutline.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > size_t(NutLine::maxLength))
        return 0; // the server closes the connection before it parses such a line
    const QByteArray line(reinterpret_cast<const char *>(data), int(size));
    const NutLine::Parsed parsed = NutLine::parse(line);
    if (!parsed.ok()) {
        if (!parsed.words.isEmpty())
            abort();
        return 0;
    }
    QByteArray again;
    for (const QString &word : parsed.words) {
        if (word.contains(QLatin1Char('\n')) || word.contains(QLatin1Char('\r')))
            return 0;
        again += NutLine::quoted(word) + ' ';
    }
    if (NutLine::parse(again).words != parsed.words)
        abort();
    return 0;
}
