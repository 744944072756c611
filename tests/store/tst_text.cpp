#include <functional>
#include <string>

#include <QtTest>

#include "GeneralFunctions.h"

using Convert = std::function<QString(const QString&)>;
Q_DECLARE_METATYPE(Convert)

namespace {
Convert OnBytes(std::string (*function)(const std::string&))
{
    return [=](const QString& s) { return QString::fromStdString(function(s.toStdString())); };
}

// Adds one row per case, named after the call, such as name(a/b/).
void Rows(const char* name, const Convert& function,
          const QList<std::pair<QString, QString>>& cases)
{
    for (const auto& [value, expected] : cases)
        QTest::newRow(qPrintable(name + ("(" + value + ")"))) << function << value << expected;
}
} // namespace

class TextTest : public QObject
{
    Q_OBJECT

private slots:
    void convertsText_data()
    {
        QTest::addColumn<Convert>("function");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("expected");
        const auto link = [](const QString& url) {
            return QString("<a href=\"%1\">%1</a>").arg(url);
        };
        Rows("name", OnBytes(GetFileName), {{"a/b/", "b"}, {"a/b//", ""}, {"file", "file"}});
        Rows("folder", OnBytes(GetFolder), {{"a\\b\\x.mp3", "a\\b"}, {"x.mp3", "x.mp3"}});
        Rows("parent", OnBytes(GetParentFolder),
             {{"a\\b\\x\\\\", "a\\b"}, {"\\\\\\", ""}, {"a/b/x/", "a/b"}});
        Rows("extension", OnBytes(GetFileExtension),
             {{"Song.MP3", "mp3"}, {"dir.old/readme", "old/readme"}});
        Rows("reverse", ReversePathname,
             {{"Music\\Rock\\Album", "Album/Rock/Music"}, {"/a//b/", "b/a"}});
        Rows("links", ConvertLinks,
             {{"See https://a.org/x.", "See " + link("https://a.org/x") + "."},
              {"http://a.org/? ok", link("http://a.org/") + "? ok"},
              {"ftp://a.org www.a.org", "ftp://a.org www.a.org"}});
        Rows("escape", EscapeHTML, {{"<b>&</b>", "&lt;b&gt;&amp;&lt;/b&gt;"}});
        Rows("commafy", [](const QString& n) { return CommafyNumber(n.toLongLong()); },
             {{"1000000", "1,000,000"}, {"999", "999"}, {"0", ""}, {"-5000", ""}});
        Rows("duration", [](const QString& n) { return FormatSeconds(n.toLong()); },
             {{"0", "0m0s"}, {"3725", "1h2m5s"}, {"86405", "1d0h0m5s"}});
    }
    void convertsText()
    {
        QFETCH(Convert, function);
        QFETCH(QString, value);
        QFETCH(QString, expected);
        QCOMPARE(function(value), expected);
    }

    void showsNamesOnOneBoundedLine_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("shown");
        const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80");
        const QString head = QString(127, 'h');
        QTest::newRow("plain") << "01 Song.mp3"
                               << "01 Song.mp3";
        QTest::newRow("line breaks") << "a\nb\r\nc" << QString::fromUtf8("a\u21B5b\u21B5\u21B5c");
        QTest::newRow("direction override")
            << QString::fromUtf8("evil\u202E3pm.exe") << QString::fromUtf8("evil\uFFFD3pm.exe");
        QTest::newRow("isolate and separator") << QString::fromUtf8("a\u2067b\u2028c\x7F\t")
                                               << QString::fromUtf8("a\uFFFDb\u21B5c\uFFFD\uFFFD");
        QTest::newRow("long") << head + QString(131000, 'm') + QString(128, 't')
                              << head + QChar(0x2026) + QString(128, 't');
        // The cuts fall inside pairs at both ends: neither half of a pair is shown alone.
        QTest::newRow("pairs at the cuts")
            << QString(126, 'h') + smile.repeated(1000) + "xy" + smile
            << QString(126, 'h') + QChar(0x2026) + smile.repeated(62) + "xy" + smile;
        QTest::newRow("line breaks past the cut")
            << QString(300, '\n')
            << QString(127, QChar(0x21B5)) + QChar(0x2026) + QString(128, QChar(0x21B5));
    }
    void showsNamesOnOneBoundedLine()
    {
        QFETCH(QString, name);
        QFETCH(QString, shown);
        QCOMPARE(ShownName(name), shown);
        QVERIFY(ShownName(name).size() <= maxShownNameLength);
    }

    void searchesReplacesAndReadsBits()
    {
        QCOMPARE(StringReplace("aaa", "a", "aa"), std::string("aaaaaa"));
        QCOMPARE(StringReplace("abc", "", "x"), std::string("abc"));
        QCOMPARE(findFirstOf("a/b\\c/d", "\\/", 2), 3);
        QCOMPARE(findFirstOf("abc", "C", 0), -1);
        QCOMPARE(findLastOf("a/b\\c/d", "\\/", -1), 5);
        QCOMPARE(findLastOf("a/b\\c/d", "\\/", 4), 3);
        QVERIFY(GetBit(1u, 1) && !GetBit(1u, 2));
        QVERIFY(GetBit(0x80000000u, 32) && !GetBit(0x7FFFFFFFu, 32));
    }
};

QTEST_GUILESS_MAIN(TextTest)
#include "tst_text.moc"
