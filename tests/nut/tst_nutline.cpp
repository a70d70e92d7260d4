#include "nut/nutline.h"

#include <QtTest>

// The request line as upsd splits it, and values as answers quote them.
class TestNutLine : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void quoted_data();
    void quoted();
};

void TestNutLine::parse_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("error");
    QTest::addColumn<QStringList>("words");

    const int none = int(NutLine::Error::None);
    const auto words = [](std::initializer_list<const char *> list) {
        QStringList out;
        for (const char *w : list)
            out << QString::fromUtf8(w);
        return out;
    };
    QTest::newRow("plain words") << QByteArray("GET VAR ups-1 ups.status") << none
                                 << words({"GET", "VAR", "ups-1", "ups.status"});
    QTest::newRow("blanks and tabs around and between")
        << QByteArray("  LIST \t UPS  ") << none << words({"LIST", "UPS"});
    QTest::newRow("a quoted word keeps its blanks")
        << QByteArray("SET VAR u ups.id \"my ups\"") << none << words({"SET", "VAR", "u", "ups.id", "my ups"});
    QTest::newRow("escaped quote and backslash inside quotes")
        << QByteArray("PASSWORD \"a\\\"b\\\\c\"") << none << words({"PASSWORD", "a\"b\\c"});
    QTest::newRow("a backslash outside quotes takes the next character")
        << QByteArray("USERNAME a\\ b") << none << words({"USERNAME", "a b"});
    QTest::newRow("an empty quoted word is a word") << QByteArray("PASSWORD \"\"") << none << words({"PASSWORD", ""});
    QTest::newRow("quotes in the middle join the word")
        << QByteArray("USERNAME ab\"c d\"e") << none << words({"USERNAME", "abc de"});
    QTest::newRow("carriage return of a CRLF line dropped") << QByteArray("NETVER\r") << none << words({"NETVER"});
    QTest::newRow("empty line: no words") << QByteArray("") << none << QStringList();
    QTest::newRow("UTF-8 kept") << QByteArray("USERNAME \xc3\xa9t\xc3\xa9") << none
                                << words({"USERNAME", "\xc3\xa9t\xc3\xa9"});
    QTest::newRow("unterminated quote") << QByteArray("USERNAME \"abc") << int(NutLine::Error::UnterminatedQuote)
                                        << QStringList();
    QTest::newRow("escaped closing quote leaves it open")
        << QByteArray("USERNAME \"abc\\\"") << int(NutLine::Error::UnterminatedQuote) << QStringList();
    QTest::newRow("trailing backslash") << QByteArray("USERNAME abc\\") << int(NutLine::Error::TrailingBackslash)
                                        << QStringList();
    QTest::newRow("a NUL is no text") << QByteArray("NET\0VER", 7) << int(NutLine::Error::NotText) << QStringList();
    QTest::newRow("no UTF-8") << QByteArray("USERNAME \xff\xfe") << int(NutLine::Error::NotText) << QStringList();
}

void TestNutLine::parse()
{
    QFETCH(QByteArray, line);
    QFETCH(int, error);
    QFETCH(QStringList, words);
    const NutLine::Parsed parsed = NutLine::parse(line);
    QCOMPARE(int(parsed.error), error);
    QCOMPARE(parsed.ok(), error == int(NutLine::Error::None));
    QCOMPARE(parsed.words, words);
}

void TestNutLine::quoted_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("plain") << QStringLiteral("OL") << QByteArray("\"OL\"");
    QTest::newRow("blank inside") << QStringLiteral("OB LB") << QByteArray("\"OB LB\"");
    QTest::newRow("quote and backslash escaped") << QStringLiteral("a\"b\\c") << QByteArray("\"a\\\"b\\\\c\"");
    QTest::newRow("a line break cannot end the answer") << QStringLiteral("a\nb\rc") << QByteArray("\"a b c\"");
    QTest::newRow("empty") << QString() << QByteArray("\"\"");
}

// What quoted() writes, parse() reads back as the one word it was (a line break aside).
void TestNutLine::quoted()
{
    QFETCH(QString, value);
    QFETCH(QByteArray, wire);
    QCOMPARE(NutLine::quoted(value), wire);
    QString expected = value;
    expected.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    QCOMPARE(NutLine::parse("VAR " + wire).words, QStringList({QStringLiteral("VAR"), expected}));
}

QTEST_APPLESS_MAIN(TestNutLine)
#include "tst_nutline.moc"
