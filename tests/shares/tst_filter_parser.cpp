#include <QtTest>

#include "Data.h"
#include "FilterParser.h"

namespace {
// A row of a verdict table. `file` lists a file row's attributes as "bitrate,mode,size" (an empty
// field is absent); a null `file` is a folder row.
void AddRow(const char* name, const char* filter, const char* text, const char* file, int verdict)
{
    QTest::newRow(name) << QString(filter) << QString(text) << QString(file) << verdict;
}
} // namespace

class SharesFilterParserTest : public QObject
{
    Q_OBJECT

    Data store;

    ItemPtr Row(const QString& file)
    {
        if (file.isNull())
            return ItemPtr();
        ItemPtr row = store.GetType("file")->NewItem();
        const QStringList values = file.split(',');
        const char* const types[] = {"bitrate", "bitrate_mode", "file_size"};
        for (int index = 0; index < values.size(); ++index)
            if (!values[index].isEmpty())
                row += store.GetType(types[index])->GetItem(Value(values[index]));
        return row;
    }

private slots:
    void initTestCase()
    {
        Type* file = store.NewType("file", PrimacyRoot, true, false);
        for (const char* attribute : {"bitrate", "bitrate_mode", "file_size"})
            file->RelateToType(store.NewType(attribute, PrimacyLeaf, false, true), Many, One,
                               false);
    }

    void judgesRow_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("verdict");
        AddRow("empty", "", "a", "", 0);
        AddRow("words present", "band HELP", "Band\\Help.mp3", "", 0);
        AddRow("word missing", "band help", "Band", nullptr, 1);
        AddRow("tab in word", "band\thelp", "band help", nullptr, 1);
        AddRow("ISVBR is a word", "ISVBR", "song", ",vbr,", 1);
        AddRow("isvbr vbr", "isvbr", "song", ",vbr,", 0);
        AddRow("isvbr cbr", "isvbr", "song", ",cbr,", 2);
        AddRow("isvbr no mode", "isvbr", "song", "", 2);
        AddRow("iscbr cbr", "iscbr", "song", ",cbr,", 0);
        AddRow("iscbr vbr", "iscbr", "song", ",vbr,", 2);
        AddRow("-isvbr is a word", "-isvbr", "song", ",cbr,", 0);
        AddRow("mbr at minimum", "mbr:320", "song", "320", 0);
        AddRow("mbr below", "mbr:320", "song", "319", 2);
        AddRow("minbitrate below", "minbitrate:320", "song", "319", 2);
        AddRow("mbr no bitrate", "mbr:320", "a.ogg", "", 2);
        AddRow("mbr folder", "mbr:320", "folder", nullptr, 0);
        AddRow("mbr not a number", "mbr:320k", "song", "", 0);
        AddRow("later term wins", "mbr:320 mbr:128", "song", "128", 0);
        AddRow("mfs one byte short", "mfs:10", "a", ",,9999999", 2);
        AddRow("mfs exact", "mfs:10", "a", ",,10000000", 0);
        AddRow("minfilesize short", "minfilesize:10", "a", ",,9999999", 2);
        AddRow("mfs beyond 64 bits", "mfs:10000000000000", "a", ",,1000000000000000000", 2);
        AddRow("excluded inside word", "-live", "Delivery.ogg", "", 2);
        AddRow("lone dash", "-", "a", "", 0);
        AddRow("rejection wins", "mbr:320 absent", "a", "", 2);
        // Long texts are searched another way; a hostile name may be hundreds of thousands long.
        const QString longText = QString(200000, 'x') + "BaNd" + QString(99, 'y') + QChar(0x00C9);
        QTest::newRow("long text words present") << "band \u00e9" << longText << "" << 0;
        QTest::newRow("long text word missing") << "bands" << longText << QString() << 1;
        QTest::newRow("long text excluded") << "-yyy\u00e9" << longText << "" << 2;
    }

    void judgesRow()
    {
        QFETCH(QString, filter);
        QFETCH(QString, text);
        QFETCH(QString, file);
        FilterParser parser;
        parser.Parse(filter);
        QTEST(parser.IsMatching(text, nullptr, Row(file)), "verdict");
    }

    void readsFolderTerms_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<bool>("hasAttributes");
        QTest::addColumn<int>("minFiles");
        const std::tuple<const char*, bool, int> rows[] = {
            {"band -live", false, 0}, {"mfif:8", false, 8}, {"minfilesinfolder:3 mfif:5", false, 5},
            {"mbr:abc", true, 0},     {"iscbr", true, 0},   {"ISCBR MFS:3", false, 0},
            {"mfs:3 mfif:x", true, 0}};
        for (const auto& [filter, hasAttributes, minFiles] : rows)
            QTest::newRow(filter) << QString(filter) << hasAttributes << minFiles;
    }

    void readsFolderTerms()
    {
        QFETCH(QString, filter);
        FilterParser parser;
        parser.Parse(filter);
        QTEST(parser.HasAttributes(), "hasAttributes");
        QTEST(parser.MinFilesInFolder(), "minFiles");
    }

    // The folder's text is tested first; the file then owes only the words the folder lacked.
    void carriesRemainderToFiles_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("bitrate");
        QTest::addColumn<int>("folderVerdict");
        QTest::addColumn<int>("fileVerdict");
        const std::tuple<const char*, const char*, const char*, const char*, int, int> rows[] = {
            {"band help", "Band\\Help", "x.mp3", "", 0, 0},
            {"band help", "Band", "help.mp3", "", 1, 0},
            {"band help", "Band", "x.mp3", "", 1, 1},
            {"band -live", "Band", "Live.mp3", "", 0, 2},
            {"band mbr:320", "Band", "x.mp3", "128", 0, 2},
            {"band mbr:320", "Band", "x.mp3", "320", 0, 0}};
        for (const auto& [filter, folder, file, bitrate, folderVerdict, fileVerdict] : rows)
            QTest::addRow("%s: %s, %s %s", filter, folder, file, bitrate)
                << QString(filter) << QString(folder) << QString(file) << QString(bitrate)
                << folderVerdict << fileVerdict;
    }

    void carriesRemainderToFiles()
    {
        QFETCH(QString, filter);
        QFETCH(QString, folder);
        QFETCH(QString, file);
        QFETCH(QString, bitrate);
        FilterParser parser;
        parser.Parse(filter);
        FilterParser remainder;
        QTEST(parser.IsMatching(folder, &remainder, ItemPtr()), "folderVerdict");
        QTEST(remainder.IsMatching(file, nullptr, Row(bitrate)), "fileVerdict");
    }
};

QTEST_GUILESS_MAIN(SharesFilterParserTest)
#include "tst_filter_parser.moc"
