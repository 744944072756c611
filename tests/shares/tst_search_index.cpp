#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <QSet>
#include <QtTest>

#include "SearchParser.h"
#include "SearchResultBody.h"
#include "SharesTestSetup.h"

using namespace SharesTypes;

namespace {
// Words that differ only in case, carry Latin-1 letters or other scripts, are short, hold
// punctuation, or come again and again.
const char* const vocabulary[] = {"Love",   "love", "LOVE",   "café",       "Café", "naïve",
                                  "Привет", "мир",  "日本語", "a",          "ab",   "x-y",
                                  "(live)", "2010", "song",   "song.mp3",   "b×c",  "ÀÉÎ",
                                  "tab",    "re",   "remix",  "Love.Remix", "zz",   "ünï"};

// The words a path must be found by, the slow way: the runs of word characters, then the runs
// between blanks and slashes.
QSet<QString> PathWords(const QString& lowerText)
{
    QSet<QString> words;
    QString word;
    for (const QChar character : lowerText + '/')
    {
        if (!SharedFoldersManager::IsSearchTokenSeparator(character))
        {
            word += character;
            continue;
        }
        if (!word.isEmpty())
            words.insert(word);
        word.clear();
    }
    for (const QString& run : lowerText.split(QRegularExpression("[ /\\\\]"), Qt::SkipEmptyParts))
        words.insert(run);
    return words;
}

struct SharedFile
{
    ItemPtr item;
    std::string listed;
    QSet<QString> words;
    QString lowerName;
    bool visible = true;
};
} // namespace

class SearchIndexTest : public SharesTestSetup::Fixture
{
    Q_OBJECT

private:
    std::mt19937 random{11};
    std::vector<SharedFile> files;

    static ItemPtr Root(const QString& path)
    {
        return d.GetType(sharedFolder)->GetItem(Value(path));
    }

    QString Word() { return QString::fromUtf8(vocabulary[random() % std::size(vocabulary)]); }

    // A file item made as a load makes it, without the walk, with its path in another case.
    std::pair<ItemPtr, QString> MakeLoadedFile(int number)
    {
        const QString folder = QString("/Share/%1/Sub %2").arg(Word()).arg(number % 40);
        const QString name = QString("%1 %2.Mp3").arg(Word()).arg(number);
        ItemPtr item = d.GetType(sharedFile)->NewItem();
        item.Connect(d.GetType(sharedFileName)->GetItem(Value(name)));
        item.Connect(d.GetType(sharedFileFolder)->GetItem(Value(folder)));
        return {item, (folder + "/" + name).toUpper().replace('/', '\\')};
    }

    void AddFile(const QString& root, const QString& folder, const QString& name)
    {
        ItemPtr folderItem = d.GetType(sharedFileFolder)->GetItem(Value(folder));
        Root(root).Connect(folderItem);
        ItemPtr item = folderItem.NewItem(sharedFile);
        item.Connect(d.GetType(sharedFileName)->GetItem(Value(name)));
        item.Connect(d.GetType(sharedFileSize)->GetItem(Value(7)));
        shares->TokenizeSharedFile(item);
        SharedFile file;
        file.item = item;
        file.listed = QString(folder + "/" + name).replace('/', '\\').toStdString();
        file.words = PathWords((folder + "\\" + name).toLower());
        file.lowerName = name.toLower();
        file.visible = root == "/share";
        files.push_back(file);
    }

    // Paths of generated words under a public root and a root only the user list sees.
    void AddGeneratedFiles(int count)
    {
        for (int at = 0; at < count; ++at)
        {
            const QString root = at % 7 == 0 ? "/hidden" : "/share";
            const QString folder = QString("%1/%2/%3 %4").arg(root, Word(), Word()).arg(at % 50);
            const char* endings[] = {".mp3", ".MP3", ".ogg", ""};
            QString name = Word() + " " + Word();
            if (at % 5 == 0)
                name += " " + name; // the same words twice in one name
            AddFile(root, folder, name + endings[at % 4]);
        }
    }

    // What the manager answers: the listed paths in the order sent, or nothing when refused.
    QStringList Answer(const QString& query)
    {
        MemStream body;
        if (!shares->BuildSearchAnswer("stranger", 3, query, body))
            return {};
        SearchResultBody answer;
        if (!answer.Read(body))
            return {"unreadable answer"};
        QStringList paths;
        for (const FileInfo& result : answer.results)
            paths << QString::fromStdString(result.name);
        return paths;
    }

    // What a linear scan of every shared file gives for the query.
    QStringList Expected(const QString& query)
    {
        SearchParser parser;
        if (!parser.SetSearchText(query) || parser.GetIncludedTokenSet().empty())
            return {};
        bool longEnough = false;
        for (const QString& word : parser.GetIncludedTokenSet())
            longEnough = longEnough || word.size() > 2;
        std::vector<std::string> found;
        bool everyWordKnown = true;
        for (const QString& word : parser.GetIncludedTokenSet())
            everyWordKnown =
                everyWordKnown && std::any_of(files.begin(), files.end(), [&](const SharedFile& f) {
                    return f.words.contains(word);
                });
        if (!longEnough || !everyWordKnown)
            return {};
        for (const SharedFile& file : files)
        {
            bool match = file.visible;
            for (const QString& word : parser.GetIncludedTokenSet())
                match = match && file.words.contains(word);
            for (const QString& word : parser.GetIncludedPartTokenSet())
                match = match && file.lowerName.contains(word);
            for (const QString& word : parser.GetExcludedTokenSet())
                match = match && !file.lowerName.contains(word);
            if (match)
                found.push_back(file.listed);
        }
        std::sort(found.begin(), found.end());
        QStringList paths;
        for (const std::string& path : found)
            paths << QString::fromStdString(path);
        return paths;
    }

    QString GeneratedQuery()
    {
        QString query = Word();
        const int extra = int(random() % 3);
        for (int at = 0; at < extra; ++at)
            query += QString(random() % 4 == 0 ? " -" : random() % 4 == 0 ? " *" : " ") + Word();
        return query;
    }

    void CompareGeneratedQueries(int count)
    {
        for (int at = 0; at < count; ++at)
        {
            const QString query = GeneratedQuery();
            QVERIFY2(Answer(query) == Expected(query), qPrintable(query));
        }
    }

private slots:
    void initTestCase()
    {
        Build();
        shares->Init();
    }

    void cleanupTestCase() { Destroy(); }

    void init()
    {
        SharesTestSetup::ForgetShares();
        files.clear();
        Root("/share").NewItem(sharedPublic);
        Root("/hidden").NewItem(sharedUserlist);
        AddGeneratedFiles(1500);
    }

    void answersLikeLinearScan_data()
    {
        QTest::addColumn<QString>("query");
        QTest::newRow("word in every path") << "share";
        QTest::newRow("upper case") << "LOVE";
        QTest::newRow("repeated word") << "love love love";
        QTest::newRow("latin-1 letters") << "café";
        QTest::newRow("latin-1 capitals") << "àéî";
        QTest::newRow("cyrillic word") << "привет";
        QTest::newRow("script without latin letters") << "日本語";
        QTest::newRow("punctuation kept whole") << "(live)";
        QTest::newRow("dotted name word") << "love.remix";
        QTest::newRow("one-letter word beside a long one") << "a song";
        QTest::newRow("only short words") << "a ab";
        QTest::newRow("word only in a hidden root") << "hidden";
        QTest::newRow("excluded word") << "love -remix";
        QTest::newRow("part word") << "song *ünï";
        QTest::newRow("unknown word") << "love zebra";
        QTest::newRow("empty phrase") << "love \"\"";
        QTest::newRow("phrase with a blank") << "\"love song\"";
        QTest::newRow("blank query") << "  ";
        QTest::newRow("number word") << "2010";
    }

    void answersLikeLinearScan()
    {
        QFETCH(QString, query);
        QCOMPARE(Answer(query), Expected(query));
    }

    void answersGeneratedQueriesLikeLinearScan() { CompareGeneratedQueries(400); }

    void answersRightAfterRemovalsAndNewFiles()
    {
        // Removing most files renumbers the index; items made afterwards may reuse the
        // addresses of removed ones.
        std::vector<SharedFile> kept;
        for (size_t at = 0; at < files.size(); ++at)
        {
            if (at % 4 == 0)
                kept.push_back(files[at]);
            else
                files[at].item.Remove();
        }
        files = kept;
        CompareGeneratedQueries(200);
        AddGeneratedFiles(800);
        CompareGeneratedQueries(200);
        QCOMPARE(Answer("share").size(), Expected("share").size());
    }

    void findsFilesByPathInAnyCase()
    {
        // Items made as a load makes them, without the walk: found at once.
        SharesTestSetup::ForgetShares();
        std::vector<std::pair<ItemPtr, QString>> made;
        const auto make = [&](int number) { made.push_back(MakeLoadedFile(number)); };
        for (int number = 0; number < 1500; ++number)
            make(number);
        for (const auto& [item, path] : made)
            QCOMPARE(shares->GetSharedFileItem(path), item);

        std::vector<QString> gone;
        for (size_t at = 0; at < made.size(); at += 2)
        {
            gone.push_back(made[at].second);
            made[at].first.Remove();
        }
        // New items may take the places of removed ones.
        for (int number = 1500; number < 2300; ++number)
            make(number);
        for (const QString& path : gone)
            QVERIFY2(shares->GetSharedFileItem(path).IsNull(), qPrintable(path));
        for (size_t at = 1; at < made.size(); at += 2)
            QCOMPARE(shares->GetSharedFileItem(made[at].second), made[at].first);

        // A file given another name is found by that name only.
        ItemPtr renamed = made[1].first;
        renamed.Connect(d.GetType(sharedFileName)->GetItem("Other.ogg"));
        QVERIFY(shares->GetSharedFileItem(made[1].second).IsNull());
        const QString otherPath = renamed[sharedFileFolder].AsString().toLower() + "/OTHER.OGG";
        QCOMPARE(shares->GetSharedFileItem(otherPath), renamed);
        // Nothing of a removed file is left to be found under either name.
        renamed.Remove();
        QVERIFY(shares->GetSharedFileItem(made[1].second).IsNull());
        QVERIFY(shares->GetSharedFileItem(otherPath).IsNull());
    }

    void findsTheStoresFilesWhenFirstAskedAfterARestart()
    {
        // A manager made over a store that holds files already, as after a load, and changed
        // before anything is looked up: the first look-up finds what the store holds then.
        SharesTestSetup::ForgetShares();
        std::vector<std::pair<ItemPtr, QString>> made;
        for (int number = 0; number < 300; ++number)
            made.push_back(MakeLoadedFile(number));
        delete shares;
        shares = new SharedFoldersManager;
        made[0].first.Remove();
        for (int number = 300; number < 400; ++number)
            made.push_back(MakeLoadedFile(number));
        QVERIFY(shares->GetSharedFileItem(made[0].second).IsNull());
        for (size_t at = 1; at < made.size(); ++at)
            QCOMPARE(shares->GetSharedFileItem(made[at].second), made[at].first);
        // From then on each change is entered as it comes.
        made[1].first.Remove();
        QVERIFY(shares->GetSharedFileItem(made[1].second).IsNull());
        const auto later = MakeLoadedFile(400);
        QCOMPARE(shares->GetSharedFileItem(later.second), later.first);
    }

    // A stored path's form, made on its bytes when they are ASCII, matches the asked path's.
    void findsFilesWhateverTheirSeparatorsAndCase_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("asked");
        QTest::newRow("backslashes") << "C:\\Music\\Rock"
                                     << "Song.MP3"
                                     << "c:/music/rock/song.mp3";
        QTest::newRow("doubled separators") << "/Srv//Share\\\\Deep"
                                            << "A.txt"
                                            << "/srv/share\\deep//a.TXT";
        QTest::newRow("letters past ascii")
            << QString::fromUtf8("/Share/ÀÉÎ") << QString::fromUtf8("Ünï.ogg")
            << QString::fromUtf8("/share/àéî/ÜNÏ.OGG");
        QTest::newRow("punctuation around letters") << "/@[Z]`/{a}"
                                                    << "~Q^.m3u"
                                                    << "/@[z]`/{A}/~q^.M3U";
    }

    void findsFilesWhateverTheirSeparatorsAndCase()
    {
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QFETCH(QString, asked);
        ItemPtr item = d.GetType(sharedFile)->NewItem();
        item.Connect(d.GetType(sharedFileName)->GetItem(Value(name)));
        item.Connect(d.GetType(sharedFileFolder)->GetItem(Value(folder)));
        QCOMPARE(shares->GetSharedFileItem(asked), item);
        item.Remove();
    }

    void skipsFilesWithoutFolderOrName()
    {
        // Such items come only from a damaged store; the answer leaves out a file without a
        // folder and lists one without a name by its folder alone, as before the index moved.
        ItemPtr folderless = d.GetType(sharedFile)->NewItem();
        folderless.Connect(d.GetType(sharedFileName)->GetItem("zzorphan.mp3"));
        shares->TokenizeSharedFile(folderless);
        QCOMPARE(Answer("zzorphan"), QStringList());

        ItemPtr folder = d.GetType(sharedFileFolder)->GetItem("/share/zznameless");
        Root("/share").Connect(folder);
        ItemPtr nameless = folder.NewItem(sharedFile);
        shares->TokenizeSharedFile(nameless);
        QCOMPARE(Answer("zznameless"), QStringList{"\\share\\zznameless\\"});
    }

    void stopsAtTheRecordLimit()
    {
        SharesTestSetup::ForgetShares();
        files.clear();
        Root("/c").NewItem(sharedPublic);
        const int limit = SharedFoldersManager::maxSearchResults;
        ItemPtr folder = d.GetType(sharedFileFolder)->GetItem("/c");
        Root("/c").Connect(folder);
        for (int at = 0; at < limit + 10; ++at)
        {
            ItemPtr item = folder.NewItem(sharedFile);
            item.Connect(d.GetType(sharedFileName)->GetItem(Value(QString("%1.cap").arg(at))));
            shares->TokenizeSharedFile(item);
        }
        const QStringList answer = Answer("cap");
        QCOMPARE(answer.size(), limit);
        QVERIFY(
            std::is_sorted(answer.begin(), answer.end(), [](const QString& l, const QString& r) {
                return l.toStdString() < r.toStdString();
            }));
        QCOMPARE(answer.filter(QRegularExpression("^\\\\c\\\\\\d+\\.cap$")).size(), limit);
        QCOMPARE(QSet<QString>(answer.begin(), answer.end()).size(), limit);
    }
};

QTEST_GUILESS_MAIN(SearchIndexTest)
#include "tst_search_index.moc"
