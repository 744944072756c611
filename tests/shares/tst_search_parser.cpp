#include <QtTest>

#include "SearchParser.h"

namespace {
QStringList Words(const SearchParser::TokenSet& set)
{
    return QStringList(set.begin(), set.end());
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
        const QStringList none;
        QTest::newRow("two blanks")
            << "Blue  River" << true << QStringList{"blue", "river"} << none << none;
        QTest::newRow("tab separates")
            << "blue\triver" << true << QStringList{"blue", "river"} << none << none;
        QTest::newRow("kinds") << "-live *remaster blue" << true << QStringList{"blue"}
                               << QStringList{"remaster"} << QStringList{"live"};
        QTest::newRow("excluded only") << "-live" << false << none << none << QStringList{"live"};
        QTest::newRow("blanks only") << " \t  " << false << none << none << none;
        QTest::newRow("dash at end") << "blue -" << false << QStringList{"blue"} << none << none;
        QTest::newRow("dash then blank")
            << "blue - river" << false << QStringList{"blue"} << none << none;
        QTest::newRow("star at end") << "blue *" << false << QStringList{"blue"} << none << none;
        QTest::newRow("phrase") << "\"Blue River\" 42" << true << QStringList{"42", "blue river"}
                                << none << none;
        QTest::newRow("unclosed phrase")
            << "\"blue river" << true << QStringList{"blue river"} << none << none;
        QTest::newRow("quote ends word")
            << "\"ab\"cd" << true << QStringList{"ab", "cd"} << none << none;
        QTest::newRow("quote inside word") << "ab\"cd" << false << none << none << none;
        QTest::newRow("empty phrase")
            << "blue \"\"" << false << QStringList{"blue"} << none << none;
        QTest::newRow("quote at end") << "blue \"" << false << QStringList{"blue"} << none << none;
        QTest::newRow("case folded once") << "X x" << true << QStringList{"x"} << none << none;
        QTest::newRow("one prefix only")
            << "*-abc -*abc" << true << none << QStringList{"-abc"} << QStringList{"*abc"};
        QTest::newRow("part word alone") << "*love" << true << none << QStringList{"love"} << none;
        QTest::newRow("short word")
            << "my *love" << true << QStringList{"my"} << QStringList{"love"} << none;
        QTest::newRow("non-ascii")
            << QString::fromUtf8("\xC3\x84rger \xC3\x9F") << true
            << QStringList{QString::fromUtf8("\xC3\x9F"), QString::fromUtf8("\xC3\xA4rger")} << none
            << none;
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
        QTest::newRow("word") << "river"
                              << "Blue River.MP3" << true;
        QTest::newRow("excluded") << "river -mp3"
                                  << "Blue River.MP3" << false;
        QTest::newRow("excluded inside word") << "ogg -live"
                                              << "Delivery.ogg" << false;
        QTest::newRow("part word missing") << "*rem blue"
                                           << "Blue River" << false;
        QTest::newRow("part word present") << "*rem blue"
                                           << "Blue Remaster" << true;
        QTest::newRow("phrase exact") << "\"blue river\""
                                      << "the blue river" << true;
        QTest::newRow("phrase blanks differ") << "\"blue river\""
                                              << "blue  river" << false;
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
