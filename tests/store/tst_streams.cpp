#include <climits>
#include <list>
#include <map>
#include <set>
#include <string>

#include <QTemporaryFile>
#include <QtTest>

#include "MemStream.h"
#include "QFileStreamer.h"
#include "TCPAddress.h"
#include "UserStats.h"

namespace {
QByteArray Bytes(QString hex)
{
    return QByteArray::fromHex(hex.remove(' ').toLatin1());
}

MemStream StreamOf(const QByteArray& bytes)
{
    MemStream stream;
    stream.WriteBuffer(bytes.constData(), bytes.size());
    return stream;
}

QByteArray Pending(const MemStream& stream)
{
    return QByteArray(stream.GetReadBuffer(), stream.GetPendingReadLength());
}

// The bytes a value is written as, in hex, or a marker when the write fails.
template <class T> QString Written(const T& value)
{
    MemStream stream;
    return stream.Write(value) ? QString(Pending(stream).toHex()) : QString("write failed");
}

// "ok consumed size" for reading a T whose length or count field is followed by 512 KiB.
template <class T> QString ReadCounted(const char* field)
{
    MemStream stream = StreamOf(Bytes(field) + QByteArray(4 * 0x20000, '\x01'));
    const int before = stream.GetPendingReadLength();
    T value;
    const bool ok = stream.Read(value);
    const int consumed = before - stream.GetPendingReadLength();
    return QString("%1 %2 %3").arg(ok).arg(consumed).arg(value.size());
}
} // namespace

class tst_Streams : public QObject
{
    Q_OBJECT

private slots:
    void writesValueBytes()
    {
        QCOMPARE(Written(-2), QString("feffffff"));
        QCOMPARE(Written(qint64(0x0102030405060708)), QString("0807060504030201"));
        QCOMPARE(Written(std::make_pair(true, false)), QString("0100"));
        QCOMPARE(Written(std::string("ab")), QString("020000006162"));
        QCOMPARE(Written(QString(QChar(0xE9))), QString("02000000c3a9"));
        QCOMPARE(Written(QString("a") + QChar(0) + "b"), QString("0100000061"));
        QCOMPARE(Written(TCPAddress(0x0100007f, 2234)), QString("7f000001ba080000"));
        QCOMPARE(Written(std::map<int, std::string>{{2, "x"}}),
                 QString("01000000020000000100000078"));
    }

    void checksLengthsAndCountsBeforeReading()
    {
        QCOMPARE(ReadCounted<std::string>("00000200"), QString("1 131076 131072"));
        QCOMPARE(ReadCounted<std::string>("01000200"), QString("0 4 0"));
        QCOMPARE(ReadCounted<std::list<int>>("00000200"), QString("1 524292 131072"));
        QCOMPARE(ReadCounted<std::list<int>>("01000200"), QString("0 4 0"));
        QCOMPARE(ReadCounted<std::list<int>>("ffffffff"), QString("0 4 0"));
    }

    void readsByteStringsAndText()
    {
        MemStream stream = StreamOf(Bytes("03000000 610062 01000000 e9 02000000 c3a9 010203"));
        std::string bytes = "keep";
        QString text = "keep";
        QVERIFY(stream.Read(bytes));
        QCOMPARE(bytes, std::string("a"));
        QCOMPARE(stream.GetPendingReadLength(), 14);
        QVERIFY(stream.Read(text));
        QCOMPARE(text, QString(QChar(0xE9)));
        QVERIFY(stream.Read(text));
        QCOMPARE(text, QString(QChar(0xE9)));
        QVERIFY(!stream.Read(bytes) && !stream.Read(text));
        QCOMPARE(Pending(stream), Bytes("010203"));
    }

    void readsValuesAndContainers()
    {
        MemStream stream = StreamOf(Bytes("0807060504030201 7f000001ba080000"
                                          "03000000 0100000062 0100000061 0100000062"
                                          "03000000 01000000 02000000"));
        qint64 int64 = 0;
        TCPAddress address;
        std::set<QString> set;
        std::list<int> cut{9};
        QVERIFY(stream.Read(int64) && stream.Read(address) && stream.Read(set));
        QVERIFY(!stream.Read(cut));
        QVERIFY(int64 == 0x0102030405060708 && address == TCPAddress(0x0100007f, 2234));
        QCOMPARE(set, (std::set<QString>{"a", "b"}));
        QCOMPARE(cut, (std::list<int>{1, 2}));
    }

    void growsByDoublingAndResetKeepsCapacity()
    {
        const std::pair<int, int> rows[] = {{1, 256}, {256, 512}, {300, 512}, {600, 1024}};
        for (const auto& [size, capacity] : rows)
        {
            MemStream stream = StreamOf(QByteArray(size, 'a'));
            QCOMPARE(stream.GetBufferSize(), capacity);
            QCOMPARE(Pending(stream), QByteArray(size, 'a'));
            stream.Reset();
            QVERIFY(stream.GetPendingReadLength() == 0 && stream.GetBufferSize() == capacity);
        }
    }

    void copiesShareOneBufferAndRefuseAppendPastIntMax()
    {
        MemStream original;
        MemStream copy(original);
        const char byte = 0;
        QVERIFY(copy.Write(1) && copy.Write(2));
        QVERIFY(!copy.WriteBuffer(&byte, INT_MAX - 7) && !copy.WriteBuffer(&byte, ULONG_MAX));
        int value = 0;
        QVERIFY(original.Read(value));
        QCOMPARE(value, 1);
        QCOMPARE(Pending(copy), Bytes("02000000"));
        QCOMPARE(copy.GetBufferSize(), 256);
    }

    void userStatsRoundTripIn20Bytes()
    {
        const QByteArray wire = Bytes("00c80000 0200000001000000 59010000 ffffffff");
        MemStream stream = StreamOf(wire + "x");
        UserStats stats;
        QVERIFY(stream.Read(stats));
        QCOMPARE(stream.GetPendingReadLength(), 1);
        QVERIFY(stats.m_averageSpeed == 51200 && stats.m_value64 == 0x100000002);
        QVERIFY(stats.m_sharedFileCount == 345 && stats.m_value32 == -1);
        QCOMPARE(Written(stats), QString(wire.toHex()));
    }

    void fileStreamerReportsShortReadAndWrite()
    {
        QTemporaryFile file;
        QVERIFY(file.open());
        QFileStreamer streamer(file);
        QVERIFY(streamer.Write(std::string("ab")) && file.seek(0));
        int length = 0;
        qint64 value = 0;
        QVERIFY(streamer.Read(length) && !streamer.Read(value));
        QCOMPARE(length, 2);
        QFile readOnly(file.fileName());
        QVERIFY(readOnly.open(QIODevice::ReadOnly));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("ReadOnly device"));
        QVERIFY(!QFileStreamer(readOnly).Write(1));
    }
};

QTEST_GUILESS_MAIN(tst_Streams)
#include "tst_streams.moc"
