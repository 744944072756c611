#include <QtTest>

#include "SearchParser.h"

namespace {
QStringList Words(const SearchParser::TokenSet& set)
{
    return QStringList(set.begin(), set.end());
}

// Word lists are written joined by "|", since a phrase holds blanks.
void AddRow(const char* query, bool usable, const char* included, const char* parts = "",
            const char* excluded = "")
{
    const auto split = [](const char* words) {
        return QString::fromUtf8(words).split('|', Qt::SkipEmptyParts);
    };
    QTest::newRow(query) << QString::fromUtf8(query) << usable << split(included) << split(parts)
                         << split(excluded);
}
} // namespace

class SharesSearchParserTest : public QObject
{
    Q_OBJECT

private slots:
    void splitsQuery_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<bool>("usable");
        QTest::addColumn<QStringList>("included");
        QTest::addColumn<QStringList>("parts");
        QTest::addColumn<QStringList>("excluded");
        AddRow("Blue  River", true, "blue|river");
        AddRow("blue\triver", true, "blue|river");
        AddRow("-live *remaster blue", true, "blue", "remaster", "live");
        AddRow("-live", false, "", "", "live");
        AddRow(" \t  ", false, "");
        AddRow("blue -", false, "blue");
        AddRow("blue *", false, "blue");
        AddRow("\"Blue River\" 42", true, "42|blue river");
        AddRow("\"blue river", true, "blue river");
        AddRow("\"ab\"cd", true, "ab|cd");
        AddRow("ab\"cd", false, "");
        AddRow("blue \"\"", false, "blue");
        AddRow("blue \"", false, "blue");
        AddRow("X x", true, "x");
        AddRow("*-abc -*abc", true, "", "-abc", "*abc"); // one prefix per word
        AddRow("*love", true, "", "love");               // usable; answering needs a plain word
        AddRow("my *love", true, "my", "love");
        AddRow("\xC3\x84rger \xC3\x9F", true, "\xC3\x9F|\xC3\xA4rger");
    }

    void splitsQuery()
    {
        QFETCH(QString, query);
        SearchParser parser;
        QTEST(parser.SetSearchText(query), "usable");
        QTEST(Words(parser.GetIncludedTokenSet()), "included");
        QTEST(Words(parser.GetIncludedPartTokenSet()), "parts");
        QTEST(Words(parser.GetExcludedTokenSet()), "excluded");
    }

    void matchesText_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("matches");
        const std::tuple<const char*, const char*, bool> rows[] = {
            {"river", "Blue River.MP3", true},       {"river -mp3", "Blue River.MP3", false},
            {"ogg -live", "Delivery.ogg", false},    {"*rem blue", "Blue River", false},
            {"*rem blue", "Blue Remaster", true},    {"\"blue river\"", "the blue river", true},
            {"\"blue river\"", "blue  river", false}};
        for (const auto& [query, text, matches] : rows)
            QTest::addRow("%s / %s", query, text) << QString(query) << QString(text) << matches;
    }

    void matchesText()
    {
        QFETCH(QString, query);
        QFETCH(QString, text);
        SearchParser parser;
        parser.SetSearchText(query);
        QTEST(parser.IsMatch(text), "matches");
    }
};

QTEST_GUILESS_MAIN(SharesSearchParserTest)
#include "tst_search_parser.moc"
