#include <atomic>
#include <cstdlib>
#include <new>

#include <signal.h>
#include <sys/resource.h>

#include <QtTest>

#include "Data.h"
#include "DataLoadFailure.h"
#include "DataLoadedEventHandler.h"
#include "DataSaver.h"

namespace {
std::atomic<size_t> largestAllocation{0};

struct Listener : DataLoadedEventHandler
{
    void DataLoaded() override { heard += "loaded "; }
    void NoData() override { heard += "none "; }
    QString heard;
};

// File contents, field by field.
struct Bytes
{
    Bytes& Int(qint32 value) { return data.resize(data.size() + 4), Set(data.size() - 4, value); }
    template <class... T> Bytes& Int(qint32 value, T... more) { return Int(value).Int(more...); }
    Bytes& Set(int at, qint32 value) { return qToLittleEndian(value, data.data() + at), *this; }
    Bytes& Str(const QByteArray& text) { return Int(text.size()).Raw(text); }
    Bytes& Type(const char* name, char flag, int n) { return Str(name).Raw({&flag, 1}).Int(n); }
    Bytes& Raw(const QByteArray& raw) { return data.append(raw), *this; }
    QByteArray data;
};
} // namespace

// Records the largest single allocation, to show that counts read from a file reserve nothing.
void* operator new(size_t size)
{
    largestAllocation = size > largestAllocation ? size : largestAllocation.load();
    void* memory = std::malloc(size > 0 ? size : 1);
    return memory ? memory : throw std::bad_alloc();
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

    QScopedPointer<QTemporaryDir> folder;
    QString prefix;
    QScopedPointer<DataSaver> saver;               // saving type a
    Type *a = nullptr, *b = nullptr, *n = nullptr; // b is valueless

    QString Path(const QString& name) const { return folder->filePath(name); }
    QStringList Names() const { return QDir(folder->path()).entryList(QDir::Files | QDir::Hidden); }
    QByteArray Contents(const QString& name) const
    {
        QFile file(Path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void Put(const QString& name, const QByteArray& bytes, int secondsAgo = 0) const
    {
        QFile file(Path(name)); // flushed before the time is set, or the write would set it again
        const QDateTime time = QDateTime::currentDateTime().addSecs(-secondsAgo);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() &&
                file.flush() && file.setFileTime(time, QFileDevice::FileModificationTime));
    }

private slots:
    void initTestCase()
    {
        a = d.NewType("a", PrimacyRoot, false, false);
        b = d.NewType("b", PrimacyRoot, true, false);
        n = d.NewType("n", PrimacyRoot, false, false);
        for (Type* type : {a, b, n})
            type->RelateToType(a, Many, Many, false);
    }

    void init()
    {
        folder.reset(new QTemporaryDir);
        prefix = Path(".vandrell");
        d.RemoveAllItems();
        saver.reset(new DataSaver);
        saver->AddSavedType("a");
    }

    void writesTheFileLayoutAndLoadsItBack()
    {
        const ItemPtr x = a->NewItem("x"), y = a->NewItem("y"), mark = b->NewItem();
        x += mark, y += mark; // left out with the b item: b is not saved yet
        saver->Save(prefix);
        Bytes items; // in identity order, as the file lists them
        int id = 0;
        for (ItemPtr item : g("a"))
            items.Int(++id).Str(item.AsString().toUtf8());
        QCOMPARE(Contents(Names()[0]), Bytes().Int(1).Type("a", 0, 2).Raw(items.data).Int(0).data);

        // Each pair is seen from both of its ends but written once. Left out: an n item connected
        // to no a item, and a value too long to load back.
        x += y, x += n->NewItem("kept");
        x += a->NewItem(std::string(DataSaver::maxValueLength + 1, 'v'));
        n->NewItem("stray");
        saver->AddSavedType("b");
        saver->AddSavedByConnectionType("n", "a");
        saver->Save(prefix);
        Bytes both = Bytes().Int(3).Type("a", 0, 2).Raw(items.data).Type("b", 1, 1).Int(3);
        both.Type("n", 0, 1).Int(4).Str("kept").Int(4, 1, 2, 1, 3, 1, 4, 2, 3);
        QCOMPARE(Contents(Names().last()), both.data);
        QVERIFY(saver->SaveAll(Path("all")) && !saver->SaveAll(Path("missing/all")));

        d.RemoveAllItems();
        const ItemPtr preset = a->NewItem("x"); // a default written before loading
        saver->Load(prefix);
        QVERIFY(a->ItemCount() == 2 && g("a").Contains(preset) && a->HasItem("y"));
        QCOMPARE(preset["n"].AsString(), QString("kept"));
        QVERIFY(!preset["b"].IsNull() && preset["b"] == preset["a"]["b"]);

        // Skipped: a type no longer declared, a self-pair and a pair of unrelated types.
        Bytes file =
            Bytes().Int(4).Type("gone", 0, 1).Int(1).Str("g").Type("a", 0, 1).Int(2).Str("z");
        file.Type("b", 1, 1).Int(3).Type("n", 0, 1).Int(4).Str("m").Int(4, 1, 2, 2, 2, 2, 3, 3, 4);
        Put(".vandrell.9999999999999", file.data);
        saver->Load(prefix);
        const ItemPtr z = a->HasItem("z"), m = n->HasItem("m");
        QVERIFY(!z.IsNull() && !m.IsNull() && !d.HasType("gone") && m->connections.Empty());
        QVERIFY(z->connections.Size() == 1 && !z["b"].IsNull());
    }

    // Hubs and their leaves, made in mixed order and with hub ids both below and above the
    // leaves', come back with every leaf at its own hub; a leaf that already had a hub before
    // the load takes the saved one instead.
    void loadsEveryLeafAtItsHub()
    {
        // Declared here, once, so that the other cases keep their store as it was.
        const auto declare = [](const char* name) {
            return d.HasType(name) ? d.GetType(name) : d.NewType(name, PrimacyRoot, false, false);
        };
        Type *hub = declare("hub"), *leaf = declare("leaf"), *zone = declare("zone");
        if (!leaf->FindRelation(hub))
        {
            leaf->RelateToType(hub, Many, One, false); // a leaf has one hub
            leaf->RelateToType(zone, Many, One, false);
        }
        for (const char* type : {"hub", "leaf", "zone"})
            saver->AddSavedType(type);
        const char* const hubs[] = {"h0", "h1", "h2"};
        const int order[] = {0, 1, 0, 2, 2, 1, 0}; // A, B, A: no run of one hub
        std::map<QString, QString> hubOf, zoneOf;
        for (int index = 0; index < 60; ++index)
        {
            const QString name = QString("leaf%1").arg(index);
            const ItemPtr item = leaf->NewItem(name);
            const QString hubName = hubs[order[index % 7]];
            const QString zoneName = QString("z%1").arg(index % 4);
            ItemPtr(hub->NewItem(hubName)) += item;
            item += zone->NewItem(zoneName);
            hubOf[name] = hubName;
            zoneOf[name] = zoneName;
        }
        saver->Save(prefix);

        d.RemoveAllItems();
        ItemPtr(leaf->NewItem("leaf5")) += hub->NewItem("h9"); // a default before loading
        saver->Load(prefix);
        QCOMPARE(leaf->ItemCount(), size_t(60));
        for (const auto& [name, hubName] : hubOf)
        {
            const ItemPtr item = leaf->HasItem(name);
            QVERIFY2(!item.IsNull(), qPrintable(name));
            QCOMPARE(item["hub"].AsString(), hubName);
            QCOMPARE(item["zone"].AsString(), zoneOf[name]);
        }
        std::map<QString, size_t> leavesPerHub;
        for (const auto& entry : hubOf)
            ++leavesPerHub[entry.second];
        for (const auto& [hubName, count] : leavesPerHub)
            QCOMPARE(ItemPtr(hub->HasItem(hubName)).GetItems("leaf").Size(), count);
        QVERIFY(ItemPtr(hub->HasItem("h9")).IsDisconnectedFromAll());
    }

    void prunesOnlyAfterTheNewFileIsComplete()
    {
        a->NewItem("kept");
        const int ages[] = {10, 50, 20, 40, 30}; // by time, the newest are .100, .300 and .500
        for (int index = 0; index < 5; ++index)
            Put(QString(".vandrell.%1").arg(100 * (index + 1)), "old", ages[index]);
        Put(".vandrell.300.unreadable", "bad", 90);
        const QStringList before = Names();

        // A full disk: every write past 16 bytes fails, even for root.
        signal(SIGXFSZ, SIG_IGN);
        rlimit full = {};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &full), 0);
        const rlimit limit = {16, full.rlim_max};
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
        saver->Save(prefix);
        QVERIFY(setrlimit(RLIMIT_FSIZE, &full) == 0 && Names() == before);

        saver->Save(prefix);
        QStringList after = Names();
        const QString saved = after.takeAt(1); // ".vandrell.1<ms>" sorts after ".vandrell.100"
        QCOMPARE(int(QFile::permissions(Path(saved))), 0x6600); // read and write by the owner only
        QCOMPARE(after, QStringList({".vandrell.100", ".vandrell.300", ".vandrell.300.unreadable",
                                     ".vandrell.500"}));
    }

    void fallsBackPastBadFilesAndKeepsDefaultsWhenNoneLoads_data()
    {
        QTest::addColumn<QByteArray>("file");
        const QByteArray big(DataSaver::maxValueLength, 'v');
        const Bytes record = Bytes().Int(1).Type("a", 0, 1).Int(1).Str("v");
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("truncated") << record.data.left(20);
        QTest::newRow("counts of 0xFFFFFFFF") << Bytes(record).Set(0, -1).Set(10, -1).Int(-1).data;
        QTest::newRow("pair count past the end") << Bytes(record).Int(0x7FFFFFFF).Int(1).data;
        QTest::newRow("length -1") << Bytes(record).Set(4, -1).Int(0).data;
        QTest::newRow("length over 1 MiB")
            << Bytes(record).Raw(big).Set(18, big.size() + 1).Int(0).data;
        QTest::newRow("flag of a valueless type") << QByteArray(record.data).replace(9, 1, "\1");
        QTest::newRow("bytes after the pairs") << Bytes(record).Int(0).Raw("?").data;
    }

    void fallsBackPastBadFilesAndKeepsDefaultsWhenNoneLoads()
    {
        QFETCH(QByteArray, file);
        Listener listener;
        saver->AddDataLoadedEventHandler(&listener);
        saver->Load(prefix); // a first run
        Put(".vandrell.1", Bytes().Int(1).Type("a", 0, 1).Int(1).Str("o").Int(0).data, 60);
        Put(".vandrell.9999999999999", file);
        saver->Load(prefix);
        QVERIFY(a->ItemCount() == 1 && a->HasItem("o") && QFile::remove(Path(".vandrell.1")));
        d.RemoveAllItems();
        a->NewItem("default");
        largestAllocation = 0;
        QVERIFY_EXCEPTION_THROWN(saver->Load(prefix), DataLoadFailure);
        QVERIFY(largestAllocation < (1 << 20) && a->ItemCount() == 1 && a->HasItem("default"));
        QCOMPARE(listener.heard, QString("loaded none loaded loaded none "));
        // Moved aside, where saves neither load nor prune it.
        QCOMPARE(Names(), QStringList{".vandrell.9999999999999.unreadable"});
        QCOMPARE(Contents(Names()[0]), file);
    }
};

QTEST_GUILESS_MAIN(tst_Saver)
#include "tst_saver.moc"
