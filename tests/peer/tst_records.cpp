#include <QtTest>

#include "FileInfo.h"
#include "FolderContentsBody.h"
#include "MemStream.h"
#include "SearchResultBody.h"
#include "ShareListBody.h"
#include "SharedFolderInfo.h"

class tst_Records : public QObject
{
    Q_OBJECT

    static QByteArray Bytes(QString hex) { return QByteArray::fromHex(hex.remove(' ').toLatin1()); }
    template <class T> static QByteArray Written(const T& value)
    {
        MemStream stream;
        return stream.Write(value) ? QByteArray(stream.GetWrittenData(), stream.GetWrittenLength())
                                   : QByteArray("write failed");
    }
    template <class T> static bool ReadsWhole(const QByteArray& bytes, T& value)
    {
        MemStream stream;
        return stream.WriteBuffer(bytes.data(), bytes.size()) && value.Read(stream);
    }
    static FileInfo File(std::string name, qint64 size, std::list<std::pair<int, int>> pairs = {})
    {
        FileInfo file;
        file.name = std::move(name);
        file.size = size;
        file.attributes.extension = pairs.empty() ? "" : "mp3";
        file.attributes.pairs = std::move(pairs);
        return file;
    }

private slots:
    void writesFileInfoBytes()
    {
        QCOMPARE(Written(File("abc", 5, {{0, 192}, {2, 1}})).toHex(),
                 Bytes("01 03000000 616263 0500000000000000 03000000 6D7033 02000000"
                       "00000000 C0000000 02000000 01000000")
                     .toHex());
    }

    void checksCountsBeforeReading_data()
    {
        QTest::addColumn<QString>("reader");
        QTest::addColumn<QByteArray>("prefix");
        QTest::addColumn<bool>("ok");
        // Zeros after the prefix parse as empty names, records and folders.
        QTest::newRow("name 131072") << "file" << Bytes("01 00000200") << true;
        QTest::newRow("name 131073") << "file" << Bytes("01 01000200") << false;
        const QByteArray noAttributes = Bytes("01 00000000 0000000000000000 00000000");
        QTest::newRow("pairs 131073") << "file" << noAttributes + Bytes("01000200") << false;
        QTest::newRow("folders 131073") << "list" << Bytes("01000200") << false;
        const QByteArray oneFolder = Bytes("01000000 00000000");
        QTest::newRow("files 131072") << "list" << oneFolder + Bytes("00000200") << true;
        QTest::newRow("files 131073") << "list" << oneFolder + Bytes("01000200") << false;
    }

    void checksCountsBeforeReading()
    {
        QFETCH(QString, reader);
        QFETCH(QByteArray, prefix);
        const QByteArray bytes = prefix + QByteArray(8 * 0x20000 + 16, '\0');
        FileInfo file;
        ShareListBody list;
        QTEST(reader == "file" ? ReadsWhole(bytes, file) : ReadsWhole(bytes, list), "ok");
    }

    void keepsFirstEqualFileAndLastRepeatedFolder()
    {
        MemStream stream;
        stream.Write(std::uint32_t{2});
        stream.Write(std::string("a"));
        stream.Write(std::set<FileInfo>{File("x", 1)});
        stream.Write(std::string("a"));
        stream.Write(std::uint32_t{3});
        stream.Write(File("y", 1, {{0, 128}}));
        stream.Write(File("y", 1, {{0, 320}}));
        stream.Write(File(std::string("z\0tail", 6), 1));
        ShareListBody list;
        QVERIFY(list.Read(stream));
        QCOMPARE(list.folders.size(), size_t(1));
        const std::set<FileInfo>& files = list.folders["a"];
        QCOMPARE(files.size(), size_t(2));
        QCOMPARE(files.begin()->attributes.pairs.front().second, 128);
        QCOMPARE(files.rbegin()->name, std::string("z"));
        QVERIFY(list.attributeNames.empty()); // no table at all
    }

    void readsTablesLeniently()
    {
        ShareListBody list;
        list.attributeNames[7] = "stale";
        QVERIFY(ReadsWhole(Bytes("00000000 02000000 00000000 01000000 41"), list));
        QVERIFY(list.attributeNames.empty());
        SearchResultBody results;
        QVERIFY(ReadsWhole(Bytes("01000000 75 09000000 00000000 01 40000000"), results));
        QCOMPARE(results.uploadSpeed, 64u);
        QCOMPARE(results.queuedUploads, 0u);
        SharedFolderInfo folder;
        QVERIFY(!ReadsWhole(Bytes("01000000") + Written(File("x", 1)), folder));
    }

    void roundTripsBodies()
    {
        ShareListBody list, listBack;
        list.folders["\\music"] = {File("b.mp3", 9, {{0, 192}, {2, 0}}), File("a", -1)};
        list.folders["\\empty"];
        list.attributeNames[1] = "length";
        FolderContentsBody contents, contentsBack;
        contents.token = 77;
        contents.requestedFolder = QString::fromUtf8("\\M\xC3\xBCsik");
        contents.folders[contents.requestedFolder].files = {File("one", 1), File("two", 2)};
        QVERIFY(ReadsWhole(Written(list), listBack));
        QVERIFY(ReadsWhole(Written(contents), contentsBack));
        QCOMPARE(Written(listBack), Written(list));
        QCOMPARE(Written(contentsBack), Written(contents));
        QCOMPARE(contentsBack.folders.begin()->second.files.size(), size_t(2));
    }
};

QTEST_GUILESS_MAIN(tst_Records)
#include "tst_records.moc"
