#include <functional>
#include <string>

#include <QtTest>

#include "GeneralFunctions.h"

namespace {
// Byte strings travel as Latin-1 so that every byte stays one character.
std::string Bytes(const QString& text)
{
    return text.toLatin1().toStdString();
}

QString Text(const std::string& bytes)
{
    return QString::fromLatin1(bytes.data(), int(bytes.size()));
}

using Convert = std::function<QString(const QString&)>;
Convert OnBytes(std::string (*function)(const std::string&))
{
    return [function](const QString& path) { return Text(function(Bytes(path))); };
}

const QMap<QString, Convert> functions = {
    {"name", OnBytes(GetFileName)},
    {"folder", OnBytes(GetFolder)},
    {"parent", OnBytes(GetParentFolder)},
    {"extension", OnBytes(GetFileExtension)},
    {"reverse", ReversePathname},
    {"links", ConvertLinks},
    {"escape", EscapeHTML},
    {"commafy", [](const QString& number) { return CommafyNumber(number.toLongLong()); }},
    {"duration", [](const QString& seconds) { return FormatSeconds(seconds.toLong()); }}};

void Row(const char* name, const char* function, const QString& value, const QString& expected)
{
    QTest::newRow(name) << QString(function) << value << expected;
}

QString Link(const QString& address)
{
    return QString("<a href=\"%1\">%1</a>").arg(address);
}
} // namespace

class TextTest : public QObject
{
    Q_OBJECT

private slots:
    void convertsText_data()
    {
        QTest::addColumn<QString>("function");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("expected");
        Row("name drops one trailing separator", "name", "a/b/", "b");
        Row("name drops only one separator", "name", "a/b//", "");
        Row("name without folder", "name", "file", "file");
        Row("folder with backslashes", "folder", "a\\b\\x.mp3", "a\\b");
        Row("folder without separator", "folder", "x.mp3", "x.mp3");
        Row("parent drops all trailing backslashes", "parent", "a\\b\\x\\\\", "a\\b");
        Row("parent of backslashes only", "parent", "\\\\\\", "");
        Row("parent with slashes", "parent", "a/b/x/", "a/b");
        Row("parent drops one trailing slash", "parent", "a/b//", "a/b");
        Row("extension lower-cased", "extension", "Song.MP3", "mp3");
        Row("extension found in folder", "extension", "dir.old/readme", "old/readme");
        Row("extension after final dot", "extension", "name.", "");
        Row("extension keeps high bytes", "extension", "a.\u00C9T", "\u00C9t");
        Row("reverse backslashes", "reverse", "Music\\Rock\\Album", "Album/Rock/Music");
        Row("reverse trailing slash", "reverse", "Music/Rock/Album/", "Album/Rock/Music");
        Row("reverse empty component", "reverse", "a//b", "b/a");
        Row("reverse leading slash", "reverse", "/a/b", "b/a");
        Row("link before full stop", "links", "See https://a.org/x.",
            "See " + Link("https://a.org/x") + ".");
        Row("link loses question mark", "links", "http://a.org/? ok",
            Link("http://a.org/") + "? ok");
        Row("link keeps escaped ampersand", "links", "http://a.org/?q=1&amp;r=2",
            Link("http://a.org/?q=1&amp;r=2"));
        Row("link needs word boundary", "links", "xhttp://a.org", "xhttp://a.org");
        Row("link needs http scheme", "links", "ftp://a.org www.a.org", "ftp://a.org www.a.org");
        Row("escape tags and ampersand", "escape", "<b>&</b>", "&lt;b&gt;&amp;&lt;/b&gt;");
        Row("escape leaves quotes", "escape", "\"it's\"", "\"it's\"");
        Row("commafy millions", "commafy", "1000000", "1,000,000");
        Row("commafy uneven groups", "commafy", "1234567", "1,234,567");
        Row("commafy three digits", "commafy", "999", "999");
        Row("commafy zero", "commafy", "0", "");
        Row("commafy negative", "commafy", "-5000", "");
        Row("duration zero", "duration", "0", "0m0s");
        Row("duration hours", "duration", "3725", "1h2m5s");
        Row("duration day keeps zero hours", "duration", "86405", "1d0h0m5s");
        Row("duration all units", "duration", "90061", "1d1h1m1s");
    }
    void convertsText()
    {
        QFETCH(QString, function);
        QFETCH(QString, value);
        QFETCH(QString, expected);
        QCOMPARE(functions[function](value), expected);
    }

    void replacesWithoutRescanning()
    {
        QCOMPARE(StringReplace("aaa", "a", "aa"), std::string("aaaaaa"));
        QCOMPARE(StringReplace("a.b.c", ".", "::"), std::string("a::b::c"));
        QCOMPARE(StringReplace("abc", "", "x"), std::string("abc"));
    }

    void findsCharactersAndBits()
    {
        QCOMPARE(findFirstOf("a/b\\c/d", "\\/", 2), 3);
        QCOMPARE(findFirstOf("abc", "", 0), -1);
        QCOMPARE(findFirstOf("abc", "C", 0), -1);
        QCOMPARE(findLastOf("a/b\\c/d", "\\/", -1), 5);
        QCOMPARE(findLastOf("a/b\\c/d", "\\/", 4), 3);
        QVERIFY(GetBit(1u, 1) && !GetBit(1u, 2));
        QVERIFY(GetBit(0x80000000u, 32) && !GetBit(0x7FFFFFFFu, 32));
    }
};

QTEST_GUILESS_MAIN(TextTest)
#include "tst_text.moc"
