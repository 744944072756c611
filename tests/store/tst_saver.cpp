#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <memory>
#include <new>

#include <signal.h>
#include <sys/resource.h>

#include <QtTest>

#include "Data.h"
#include "DataLoadFailure.h"
#include "DataLoadedEventHandler.h"
#include "DataSaver.h"

namespace {
const QFile::Permissions ownerOnly =
    QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
std::atomic<size_t> largestAllocation{0};

struct Listener : DataLoadedEventHandler
{
    void DataLoaded() override { heard << "DataLoaded"; }
    void NoData() override { heard << "NoData"; }
    QStringList heard;
};

// File contents, field by field.
struct Bytes
{
    Bytes& Int(qint32 value) { return data.resize(data.size() + 4), Set(data.size() - 4, value); }
    Bytes& Set(int at, qint32 value) { return qToLittleEndian(value, data.data() + at), *this; }
    Bytes& Str(const QByteArray& text) { return Int(text.size()).Raw(text); }
    Bytes& Flag(char flag) { return Raw(QByteArray(1, flag)); }
    Bytes& Raw(const QByteArray& raw) { return data.append(raw), *this; }
    QByteArray data;
};

Type* Declare(const char* name, bool isNull)
{
    Type* type = d.HasType(name);
    return type ? type : d.NewType(name, PrimacyRoot, isNull, false);
}

QStringList Values(const ItemSet& items)
{
    QStringList values;
    for (ItemPtr item : items)
        values << item.AsString();
    values.sort();
    return values;
}
} // namespace

// Records the largest single allocation, to show that counts read from a file reserve nothing.
void* operator new(size_t size)
{
    largestAllocation = std::max<size_t>(largestAllocation, size);
    if (void* memory = std::malloc(size > 0 ? size : 1))
        return memory;
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept
{
    std::free(memory);
}
void operator delete(void* memory, size_t) noexcept
{
    std::free(memory);
}

class tst_Saver : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> folder;
    QString prefix;

    QString Path(const QString& name) const { return folder->filePath(name); }
    QStringList Names() const
    {
        return QDir(folder->path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    QByteArray Contents(const QString& name) const
    {
        QFile file(Path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void Put(const QString& name, const QByteArray& bytes, int secondsAgo = 0) const
    {
        QFile file(Path(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        QVERIFY(file.flush()); // before the time is set, or the write would set it again
        const QDateTime time = QDateTime::currentDateTime().addSecs(-secondsAgo);
        QVERIFY(file.setFileTime(time, QFileDevice::FileModificationTime));
    }

private slots:
    void init()
    {
        folder = std::make_unique<QTemporaryDir>();
        prefix = Path(".vandrell");
        d.RemoveAllItems();
    }

    void roundTripsItemsValuesAndConnections()
    {
        Type* user = Declare("saver_user", false);
        Type* note = Declare("saver_note", false);
        note->RelateToType(user, Many, Many, false);
        Listener listener;
        DataSaver saver;
        saver.AddDataLoadedEventHandler(&listener);
        saver.AddSavedType("saver_user");
        saver.AddSavedByConnectionType("saver_note", "saver_user");
        saver.Load(prefix); // a first run
        QCOMPARE(listener.heard, QStringList({"DataLoaded", "NoData"}));

        const ItemPtr alice = user->NewItem("alice");
        user->NewItem("bob");
        ItemPtr(note->NewItem("kept")) += alice;
        note->NewItem("stray");
        // Too long to load back: left out, so that the rest of the file stays readable.
        ItemPtr(note->NewItem(std::string(DataSaver::maxValueLength + 1, 'v'))) += alice;
        saver.Save(prefix);
        QVERIFY(QFileInfo(Path(Names().value(0))).size() < 200);

        d.RemoveAllItems();
        const ItemPtr preset = user->NewItem("alice"); // a default written before loading
        listener.heard.clear();
        saver.Load(prefix);
        QCOMPARE(listener.heard, QStringList{"DataLoaded"});
        QCOMPARE(Values(g("saver_user")), QStringList({"alice", "bob"}));
        QVERIFY(g("saver_user").Contains(preset));
        QCOMPARE(Values(g("saver_note")), QStringList{"kept"});
        QCOMPARE(preset["saver_note"].AsString(), QString("kept"));
    }

    void writesTheFileLayout()
    {
        Type* a = Declare("a", false);
        Type* b = Declare("b", true);
        Type* c = Declare("c", true);
        a->RelateToType(a, Many, Many, false);
        b->RelateToType(a, Many, Many, false);
        c->RelateToType(a, Many, Many, false);
        DataSaver saver;
        saver.AddSavedType("a");
        a->NewItem("x"), a->NewItem("y");
        saver.Save(prefix);
        QByteArrayList values; // in identity order, as the file lists them
        for (ItemPtr item : g("a"))
            values << item.AsString().toUtf8();
        Bytes items;
        items.Int(1).Str(values[0]).Int(2).Str(values[1]);
        QCOMPARE(Names().size(), 1);
        QCOMPARE(Contents(Names()[0]),
                 Bytes().Int(1).Str("a").Flag(0).Int(2).Raw(items.data).Int(0).data);

        // Each pair is seen from both of its ends but written once; the c item, of a type not
        // saved, is left out with its connection.
        ItemPtr(a->HasItem("x")) += a->HasItem("y");
        const ItemPtr mark = b->NewItem();
        ItemPtr(a->HasItem("x")) += mark;
        ItemPtr(a->HasItem("y")) += mark;
        ItemPtr(c->NewItem()) += a->HasItem("x");
        saver.AddSavedType("b");
        saver.Save(prefix);
        Bytes both;
        both.Int(2).Str("a").Flag(0).Int(2).Raw(items.data).Str("b").Flag(1).Int(1).Int(3);
        QCOMPARE(Contents(Names().last()),
                 both.Int(3).Int(1).Int(2).Int(1).Int(3).Int(2).Int(3).data);

        QVERIFY(saver.SaveAll(Path("everything")));
        QCOMPARE(QFile::permissions(Path("everything")), ownerOnly);
        QVERIFY(!saver.SaveAll(Path("missing/everything")));
    }

    void prunesOnlyAfterTheNewFileIsComplete()
    {
        Declare("saver_prune", false)->NewItem("kept");
        DataSaver saver;
        saver.AddSavedType("saver_prune");
        const int ages[] = {10, 50, 20, 40, 30}; // by time, the newest are .100, .300 and .500
        for (int index = 0; index < 5; ++index)
            Put(QString(".vandrell.%1").arg(100 * (index + 1)), "old", ages[index]);
        Put(".vandrell.notes", "mine", 90);
        Put(".vandrell.300.unreadable", "bad", 90);
        const QStringList before = Names();

        // A full disk: every write past 16 bytes fails, even for root.
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit = {};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &limit), 0);
        const rlimit unlimited = limit;
        limit.rlim_cur = 16;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
        for (int attempt = 0; attempt < 5; ++attempt)
            saver.Save(prefix);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &unlimited), 0);
        QCOMPARE(Names(), before);

        saver.Save(prefix);
        QStringList after = Names();
        const QString saved = after.takeAt(1); // ".vandrell.1<ms>" sorts after ".vandrell.100"
        QCOMPARE(QFile::permissions(Path(saved)), ownerOnly);
        QCOMPARE(after, QStringList({".vandrell.100", ".vandrell.300", ".vandrell.300.unreadable",
                                     ".vandrell.500", ".vandrell.notes"}));
    }

    void fallsBackPastBadFilesAndKeepsDefaultsWhenNoneLoads_data()
    {
        QTest::addColumn<QByteArray>("file");
        const QByteArray name = "saver_bad", big(DataSaver::maxValueLength + 1, 'v');
        Bytes record;
        record.Int(1).Str(name).Flag(0).Int(1).Int(1).Str("v");
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("garbage") << QByteArray("#!/bin/sh\necho this is no store\n");
        QTest::newRow("truncated") << record.data.left(20);
        QTest::newRow("counts of 0xFFFFFFFF") << Bytes(record).Set(0, -1).Set(18, -1).Int(-1).data;
        QTest::newRow("pair count past the end") << Bytes(record).Int(INT_MAX).Int(1).Int(1).data;
        QTest::newRow("length -1") << Bytes(record).Set(4, -1).Int(0).data;
        QTest::newRow("length over 1 MiB")
            << Bytes(record).Raw(big).Set(26, big.size() + 1).Int(0).data;
        QTest::newRow("flag of a valueless type")
            << Bytes().Int(1).Str(name).Flag(1).Int(1).Int(1).Int(0).data;
        QTest::newRow("bytes after the pairs") << Bytes(record).Int(0).Raw("?").data;
    }

    void fallsBackPastBadFilesAndKeepsDefaultsWhenNoneLoads()
    {
        QFETCH(QByteArray, file);
        Type* type = Declare("saver_bad", false);
        Listener listener;
        DataSaver saver;
        saver.AddDataLoadedEventHandler(&listener);
        saver.AddSavedType("saver_bad");
        type->NewItem("older");
        saver.Save(prefix);
        const QString older = Names().value(0);
        Put(older, Contents(older), 60);
        Put(".vandrell.9999999999999", file);
        d.RemoveAllItems();
        saver.Load(prefix);
        QCOMPARE(Values(g("saver_bad")), QStringList{"older"});
        QCOMPARE(listener.heard, QStringList{"DataLoaded"});

        QVERIFY(QFile::remove(Path(older)));
        d.RemoveAllItems();
        type->NewItem("default");
        listener.heard.clear();
        largestAllocation = 0;
        QVERIFY_EXCEPTION_THROWN(saver.Load(prefix), DataLoadFailure);
        QVERIFY(largestAllocation < (1 << 20));
        QCOMPARE(listener.heard, QStringList({"DataLoaded", "NoData"}));
        QCOMPARE(Values(g("saver_bad")), QStringList{"default"});
        // Moved aside, where saves neither load nor prune it.
        QCOMPARE(Names(), QStringList{".vandrell.9999999999999.unreadable"});
        QCOMPARE(Contents(Names()[0]), file);
    }

    void skipsPairsOfUnrelatedTypesAndSelfPairs()
    {
        Type* p = Declare("saver_p", false);
        Type* q = Declare("saver_q", false);
        Type* r = Declare("saver_r", true);
        p->RelateToType(p, Many, Many, false);
        p->RelateToType(r, Many, Many, false);
        Bytes file;
        file.Int(4).Str("saver_gone").Flag(0).Int(1).Int(4).Str("g");
        file.Str("saver_p").Flag(0).Int(1).Int(1).Str("p");
        file.Str("saver_q").Flag(0).Int(1).Int(2).Str("q");
        file.Str("saver_r").Flag(1).Int(1).Int(3);
        file.Int(4).Int(1).Int(1).Int(1).Int(2).Int(1).Int(3).Int(1).Int(4);
        Put(".vandrell.1000", file.data);

        DataSaver saver;
        saver.Load(prefix);
        const ItemPtr loaded = p->HasItem("p");
        QVERIFY(!loaded.IsNull() && !ItemPtr(q->HasItem("q")).IsNull());
        QCOMPARE(loaded->connections.Size(), size_t(1));
        QVERIFY(!loaded["saver_r"].IsNull());
        QVERIFY(!d.HasType("saver_gone"));
    }
};

QTEST_GUILESS_MAIN(tst_Saver)
#include "tst_saver.moc"
