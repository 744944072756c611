#include <climits>

#include <QtTest>

#include "MemStream.h"
#include "QFileStreamer.h"
#include "TCPAddress.h"
#include "UserStats.h"

class tst_Streams : public QObject
{
    Q_OBJECT

    QByteArray Bytes(QString hex) { return QByteArray::fromHex(hex.remove(' ').toLatin1()); }
    QByteArray Pending(const MemStream& s) { return {s.GetReadBuffer(), s.GetPendingReadLength()}; }
    MemStream StreamOf(QByteArray b)
    {
        MemStream s;
        s.WriteBuffer(b.data(), b.size());
        return s;
    }
    // The bytes a value is written as, in hex, or a marker when the write fails.
    template <class T> QString Written(const T& value)
    {
        MemStream stream;
        return stream.Write(value) ? QString(Pending(stream).toHex()) : QString("write failed");
    }
    // "ok unread size" for reading a T whose length or count field is followed by 512 KiB.
    template <class T> QString ReadCounted(const char* field)
    {
        MemStream stream = StreamOf(Bytes(field) + QByteArray(4 * 0x20000, '\x01'));
        T value;
        const bool ok = stream.Read(value);
        return QString("%1 %2 %3").arg(ok).arg(stream.GetPendingReadLength()).arg(value.size());
    }

private slots:
    void writesValueBytes()
    {
        QCOMPARE(Written(std::string("ab")), QString("020000006162"));
        QCOMPARE(Written(QString(QChar(0xE9))), QString("02000000c3a9"));
        QCOMPARE(Written(QString("a") + QChar(0) + "b"), QString("0100000061"));
        QCOMPARE(Written(TCPAddress(0x0100007f, 2234)), QString("7f000001ba080000"));
        QCOMPARE(Written(std::map<int, std::string>{{2, "x"}}),
                 QString("01000000020000000100000078"));
    }

    void checksLengthsAndCountsBeforeReading()
    {
        QCOMPARE(ReadCounted<std::string>("00000200"), QString("1 393216 131072"));
        QCOMPARE(ReadCounted<std::string>("01000200"), QString("0 524288 0"));
        QCOMPARE(ReadCounted<std::list<int>>("00000200"), QString("1 0 131072"));
        QCOMPARE(ReadCounted<std::list<int>>("01000200"), QString("0 524288 0"));
        QCOMPARE(ReadCounted<std::list<int>>("ffffffff"), QString("0 524288 0"));
    }

    void readsValuesAndUserStatsUntilTheInputRunsShort()
    {
        MemStream stream = StreamOf(Bytes("03000000 610062 01000000 e9 02000000 c3a9"
                                          "7f000001ba080000"
                                          "03000000 0100000062 0100000061 0100000062"
                                          "00c80000 0200000001000000 59010000 ffffffff"
                                          "03000000 01000000 02000000 010203"));
        std::string bytes = "keep";
        QString latin1, utf8;
        TCPAddress address;
        std::set<QString> set;
        UserStats stats;
        std::list<int> cut{9};
        QVERIFY(stream.Read(bytes) && stream.Read(latin1) && stream.Read(utf8) &&
                stream.Read(address) && stream.Read(set) && stream.Read(stats));
        QVERIFY(!stream.Read(cut) && !stream.Read(bytes) && !stream.Read(utf8));
        QVERIFY(bytes == "a" && latin1 == QChar(0xE9) && utf8 == QChar(0xE9));
        QVERIFY(address == TCPAddress(0x0100007f, 2234) && set == (std::set<QString>{"a", "b"}));
        QCOMPARE(cut, (std::list<int>{1, 2}));
        QCOMPARE(Pending(stream), Bytes("010203"));
        QVERIFY(stats.m_averageSpeed == 51200 && stats.m_value64 == 0x100000002);
        QVERIFY(stats.m_sharedFileCount == 345 && stats.m_value32 == -1);
        QCOMPARE(Written(stats), QString("00c80000020000000100000059010000ffffffff"));
    }

    void growsByDoublingAndResetKeepsCapacity()
    {
        const std::pair<int, int> rows[] = {{1, 256}, {256, 512}, {300, 512}, {600, 1024}};
        for (const auto& [size, capacity] : rows)
        {
            MemStream stream = StreamOf(QByteArray(size, 'a'));
            QVERIFY(stream.GetBufferSize() == capacity && Pending(stream) == QByteArray(size, 'a'));
            stream.Reset();
            QVERIFY(stream.GetPendingReadLength() == 0 && stream.GetBufferSize() == capacity);
        }
    }

    void copiesShareOneBufferAndRefuseAppendPastIntMax()
    {
        MemStream original, copy(original);
        QVERIFY(copy.Write(1) && copy.Write(2));
        QVERIFY(!copy.WriteBuffer("", INT_MAX - 7) && !copy.WriteBuffer("", ULONG_MAX));
        int value = 0;
        QVERIFY(original.Read(value) && value == 1);
        QVERIFY(Pending(copy) == Bytes("02000000") && copy.GetBufferSize() == 256);
    }

    void fileStreamerReportsShortReadAndWrite()
    {
        QTemporaryFile file;
        QVERIFY(file.open());
        QFileStreamer streamer(file);
        QVERIFY(streamer.Write(std::string("ab")) && file.seek(0));
        int length = 0;
        qint64 value = 0;
        QVERIFY(streamer.Read(length) && length == 2 && !streamer.Read(value));
        QFile readOnly(file.fileName());
        QVERIFY(readOnly.open(QIODevice::ReadOnly));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("ReadOnly device"));
        QVERIFY(!QFileStreamer(readOnly).Write(1));
    }
};

QTEST_GUILESS_MAIN(tst_Streams)
#include "tst_streams.moc"
