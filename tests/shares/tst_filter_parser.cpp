#include <QtTest>

#include "Data.h"
#include "FilterParser.h"

class SharesFilterParserTest : public QObject
{
    Q_OBJECT

    Data store;

    // A file row with the given attributes; an empty text leaves the attribute out.
    ItemPtr File(const QString& bitrate, const QString& mode, const QString& size)
    {
        ItemPtr file = store.GetType("file")->NewItem();
        const std::pair<const char*, QString> attributes[] = {
            {"bitrate", bitrate}, {"bitrate_mode", mode}, {"file_size", size}};
        for (const auto& [type, value] : attributes)
            if (!value.isEmpty())
                file += store.GetType(type)->GetItem(Value(value));
        return file;
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
        QTest::addColumn<bool>("isFile");
        QTest::addColumn<QString>("bitrate");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("size");
        QTest::addColumn<int>("verdict");
        QTest::newRow("empty") << ""
                               << "a" << true << ""
                               << ""
                               << "" << 0;
        QTest::newRow("blanks") << "   "
                                << "a" << true << ""
                                << ""
                                << "" << 0;
        QTest::newRow("words present") << "band HELP"
                                       << "Band\\Help.mp3" << true << ""
                                       << ""
                                       << "" << 0;
        QTest::newRow("word missing") << "band help"
                                      << "Band" << false << ""
                                      << ""
                                      << "" << 1;
        QTest::newRow("tab in word") << "band\thelp"
                                     << "band help" << false << ""
                                     << ""
                                     << "" << 1;
        QTest::newRow("ISVBR is a word") << "ISVBR"
                                         << "song" << true << ""
                                         << "vbr"
                                         << "" << 1;
        QTest::newRow("isvbr vbr") << "isvbr"
                                   << "song" << true << ""
                                   << "vbr"
                                   << "" << 0;
        QTest::newRow("isvbr cbr") << "isvbr"
                                   << "song" << true << ""
                                   << "cbr"
                                   << "" << 2;
        QTest::newRow("isvbr no mode") << "isvbr"
                                       << "song" << true << ""
                                       << ""
                                       << "" << 2;
        QTest::newRow("iscbr cbr") << "iscbr"
                                   << "song" << true << ""
                                   << "cbr"
                                   << "" << 0;
        QTest::newRow("iscbr vbr") << "iscbr"
                                   << "song" << true << ""
                                   << "vbr"
                                   << "" << 2;
        QTest::newRow("both modes") << "isvbr iscbr"
                                    << "song" << true << ""
                                    << "vbr"
                                    << "" << 2;
        QTest::newRow("-isvbr is a word") << "-isvbr"
                                          << "song" << true << ""
                                          << "cbr"
                                          << "" << 0;
        QTest::newRow("mbr at minimum") << "mbr:320"
                                        << "song" << true << "320"
                                        << ""
                                        << "" << 0;
        QTest::newRow("mbr below") << "mbr:320"
                                   << "song" << true << "319"
                                   << ""
                                   << "" << 2;
        QTest::newRow("minbitrate below") << "minbitrate:320"
                                          << "s" << true << "319"
                                          << ""
                                          << "" << 2;
        QTest::newRow("mbr no bitrate") << "mbr:320"
                                        << "a.ogg" << true << ""
                                        << ""
                                        << "" << 2;
        QTest::newRow("mbr folder") << "mbr:320"
                                    << "folder" << false << ""
                                    << ""
                                    << "" << 0;
        QTest::newRow("mbr not a number") << "mbr:320k"
                                          << "song" << true << ""
                                          << ""
                                          << "" << 0;
        QTest::newRow("later term wins") << "mbr:320 mbr:128"
                                         << "s" << true << "128"
                                         << ""
                                         << "" << 0;
        QTest::newRow("mfs one byte short") << "mfs:10"
                                            << "a" << true << ""
                                            << ""
                                            << "9999999" << 2;
        QTest::newRow("mfs exact") << "mfs:10"
                                   << "a" << true << ""
                                   << ""
                                   << "10000000" << 0;
        QTest::newRow("minfilesize short") << "minfilesize:10"
                                           << "a" << true << ""
                                           << ""
                                           << "9999999" << 2;
        QTest::newRow("mfs beyond 64 bits") << "mfs:10000000000000"
                                            << "a" << true << ""
                                            << ""
                                            << "1000000000000000000" << 2;
        QTest::newRow("excluded inside word") << "-live"
                                              << "Delivery.ogg" << true << ""
                                              << ""
                                              << "" << 2;
        QTest::newRow("lone dash") << "-"
                                   << "a" << true << ""
                                   << ""
                                   << "" << 0;
        QTest::newRow("rejection wins") << "mbr:320 absent"
                                        << "a" << true << ""
                                        << ""
                                        << "" << 2;
    }

    void judgesRow()
    {
        QFETCH(QString, filter);
        QFETCH(QString, text);
        QFETCH(bool, isFile);
        QFETCH(QString, bitrate);
        QFETCH(QString, mode);
        QFETCH(QString, size);
        FilterParser parser;
        parser.Parse(filter);
        const ItemPtr item = isFile ? File(bitrate, mode, size) : ItemPtr();
        QTEST(parser.IsMatching(text, nullptr, item), "verdict");
    }

    void readsFolderTerms_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<bool>("hasAttributes");
        QTest::addColumn<int>("minFiles");
        QTest::newRow("words") << "band -live" << false << 0;
        QTest::newRow("mfif") << "mfif:8" << false << 8;
        QTest::newRow("later mfif wins") << "minfilesinfolder:3 mfif:5" << false << 5;
        QTest::newRow("bad number") << "mbr:abc" << true << 0;
        QTest::newRow("iscbr") << "iscbr" << true << 0;
        QTest::newRow("upper case") << "ISCBR MFS:3" << false << 0;
        QTest::newRow("mfs") << "mfs:3 mfif:x" << true << 0;
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
        QTest::newRow("folder holds all") << "band help"
                                          << "Band\\Help"
                                          << "x.mp3"
                                          << "" << 0 << 0;
        QTest::newRow("file holds rest") << "band help"
                                         << "Band"
                                         << "help.mp3"
                                         << "" << 1 << 0;
        QTest::newRow("nobody holds it") << "band help"
                                         << "Band"
                                         << "x.mp3"
                                         << "" << 1 << 1;
        QTest::newRow("exclusion kept") << "band -live"
                                        << "Band"
                                        << "Live.mp3"
                                        << "" << 0 << 2;
        QTest::newRow("bit rate kept") << "band mbr:320"
                                       << "Band"
                                       << "x.mp3"
                                       << "128" << 0 << 2;
        QTest::newRow("bit rate met") << "band mbr:320"
                                      << "Band"
                                      << "x.mp3"
                                      << "320" << 0 << 0;
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
        QTEST(remainder.IsMatching(file, nullptr, File(bitrate, "", "")), "fileVerdict");
    }
};

QTEST_GUILESS_MAIN(SharesFilterParserTest)
#include "tst_filter_parser.moc"
