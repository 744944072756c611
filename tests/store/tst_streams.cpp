#include <climits>
#include <cstring>
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
QByteArray Bytes(const QString& hex)
{
    return QByteArray::fromHex(hex.toLatin1());
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

const char* const statsWire = "00c80000 0200000001000000 59010000 ffffffff";
} // namespace

class tst_Streams : public QObject
{
    Q_OBJECT

private slots:
    void writesValueBytes_data()
    {
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("expected");
        QTest::newRow("int32") << Written(-2) << "feffffff";
        QTest::newRow("uint32") << Written(0x01020304u) << "04030201";
        QTest::newRow("int64") << Written(qint64(0x0102030405060708)) << "0807060504030201";
        QTest::newRow("booleans") << Written(std::make_pair(true, false)) << "0100";
        QTest::newRow("bytes") << Written(std::string("ab")) << "020000006162";
        QTest::newRow("no bytes") << Written(std::string()) << "00000000";
        QTest::newRow("text") << Written(QString(QChar(0xE9))) << "02000000c3a9";
        QTest::newRow("text cut at U+0000")
            << Written(QString("a") + QChar(0) + "b") << "0100000061";
        QTest::newRow("address") << Written(TCPAddress(0x0100007f, 2234)) << "7f000001ba080000";
        QTest::newRow("list") << Written(std::list<int>{1, -1}) << "0200000001000000ffffffff";
        QTest::newRow("set") << Written(std::set<QString>{"b", "a"})
                             << "02000000 0100000061 0100000062";
        QTest::newRow("map") << Written(std::map<int, std::string>{{2, "x"}})
                             << "01000000020000000100000078";
    }

    void writesValueBytes()
    {
        QFETCH(QString, written);
        QFETCH(QString, expected);
        QCOMPARE(written, expected.remove(' '));
    }

    void checksLengthsAndCounts_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<bool>("isList");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("consumed");
        QTest::newRow("bytes 131072") << "00000200" << false << true << 4 + 0x20000;
        QTest::newRow("bytes 131073") << "01000200" << false << false << 4;
        QTest::newRow("bytes top bit") << "00000080" << false << false << 4;
        QTest::newRow("list 0") << "00000000" << true << true << 4;
        QTest::newRow("list 131072") << "00000200" << true << true << 4 + 4 * 0x20000;
        QTest::newRow("list 131073") << "01000200" << true << false << 4;
        QTest::newRow("list top bit") << "ffffffff" << true << false << 4;
    }

    void checksLengthsAndCounts()
    {
        QFETCH(QString, field);
        QFETCH(bool, isList);
        QFETCH(bool, accepted);
        QFETCH(int, consumed);
        MemStream stream = StreamOf(Bytes(field) + QByteArray(4 * 0x20000, '\x01'));
        const int before = stream.GetPendingReadLength();
        std::string bytes;
        std::list<int> list;
        QCOMPARE(isList ? stream.Read(list) : stream.Read(bytes), accepted);
        QCOMPARE(before - stream.GetPendingReadLength(), consumed);
        QCOMPARE(int(isList ? list.size() * 4 : bytes.size()), accepted ? consumed - 4 : 0);
    }

    void readsByteStringsAndText_data()
    {
        QTest::addColumn<QString>("bytes");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("pending");
        QTest::addColumn<QString>("text");
        QTest::newRow("cut at nul") << "03000000 610062" << true << "61" << 0 << "a";
        QTest::newRow("utf-8") << "02000000 c3a9" << true << "c3a9" << 0 << "\u00e9";
        QTest::newRow("utf-8 euro") << "03000000 e282ac 00" << true << "e282ac" << 1 << "\u20ac";
        QTest::newRow("8-bit") << "01000000 e9" << true << "e9" << 0 << "\u00e9";
        QTest::newRow("short length") << "010203" << false << "6b656570" << 3 << "keep";
        QTest::newRow("short body") << "05000000 6162" << false << "6b656570" << 2 << "keep";
    }

    void readsByteStringsAndText()
    {
        QFETCH(QString, bytes);
        QFETCH(bool, ok);
        QFETCH(QString, value);
        QFETCH(int, pending);
        QFETCH(QString, text);
        MemStream byteStream = StreamOf(Bytes(bytes));
        MemStream textStream = StreamOf(Bytes(bytes));
        std::string readBytes = "keep";
        QString readText = "keep";
        QCOMPARE(byteStream.Read(readBytes), ok);
        QCOMPARE(textStream.Read(readText), ok);
        QCOMPARE(QString(QByteArray::fromStdString(readBytes).toHex()), value);
        QCOMPARE(byteStream.GetPendingReadLength(), pending);
        QCOMPARE(readText, text);
    }

    void readsValuesAndContainers()
    {
        MemStream stream = StreamOf(Bytes("0807060504030201 02 7f000001ba080000"
                                          "03000000 0100000062 0100000061 0100000062"
                                          "02000000 01000000 0100000078 01000000 0100000079"
                                          "03000000 01000000 02000000"));
        qint64 int64 = 0;
        bool flag = false;
        TCPAddress address;
        std::set<QString> set;
        std::map<int, std::string> map;
        std::list<int> cut{9};
        QVERIFY(stream.Read(int64) && stream.Read(flag) && stream.Read(address));
        QVERIFY(stream.Read(set) && stream.Read(map) && !stream.Read(cut));
        QVERIFY(int64 == 0x0102030405060708 && flag && address == TCPAddress(0x0100007f, 2234));
        QCOMPARE(set, (std::set<QString>{"a", "b"}));
        QVERIFY(map == (std::map<int, std::string>{{1, "y"}}));
        QCOMPARE(cut, (std::list<int>{1, 2}));
    }

    void growsByDoublingAndResetKeepsCapacity_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::addColumn<int>("capacity");
        QTest::newRow("1") << 1 << 0 << 256;
        QTest::newRow("255") << 255 << 0 << 256;
        QTest::newRow("256") << 256 << 0 << 512;
        QTest::newRow("300") << 300 << 0 << 512;
        QTest::newRow("600") << 600 << 0 << 1024;
        QTest::newRow("200 then 100") << 200 << 100 << 512;
    }

    void growsByDoublingAndResetKeepsCapacity()
    {
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(int, capacity);
        const QByteArray bytes = QByteArray(first, 'a') + QByteArray(second, 'b');
        MemStream stream;
        QVERIFY(stream.WriteBuffer(bytes.constData(), first));
        QVERIFY(stream.WriteBuffer(bytes.constData() + first, second));
        QCOMPARE(stream.GetBufferSize(), capacity);
        QCOMPARE(Pending(stream), bytes);
        stream.Reset();
        QCOMPARE(stream.GetPendingReadLength(), 0);
        QCOMPARE(stream.GetBufferSize(), capacity);
    }

    void copiesShareOneBuffer()
    {
        MemStream original;
        MemStream assigned;
        {
            MemStream copy(original);
            QVERIFY(copy.Write(1) && copy.Write(2));
            assigned = copy;
        }
        int value = 0;
        QVERIFY(original.Read(value));
        QCOMPARE(value, 1);
        QCOMPARE(Pending(assigned), Bytes("02000000"));
    }

    void refusesAppendPastIntMax()
    {
        MemStream stream = StreamOf("x");
        const char byte = 0;
        QVERIFY(!stream.WriteBuffer(&byte, INT_MAX - 1) && !stream.WriteBuffer(&byte, 1UL << 31));
        QVERIFY(!stream.WriteBuffer(&byte, ULONG_MAX));
        QCOMPARE(Pending(stream), QByteArray("x"));
        QCOMPARE(stream.GetBufferSize(), 256);
    }

    void receivesInPlace()
    {
        MemStream stream;
        stream.EnsureBufferCapacity(1000);
        stream.EnsureBufferCapacity(500);
        QCOMPARE(stream.GetBufferSize(), 1000);
        std::memset(stream.GetWriteBuffer(), 'z', 1000);
        std::memcpy(stream.GetWriteBuffer(), "\x2a\0\0\0", 4);
        stream.AdvanceWriteIndex(1000);
        int value = 0;
        QVERIFY(stream.Read(value) && stream.Write(7));
        QCOMPARE(value, 42);
        QCOMPARE(stream.GetBufferSize(), 2000);
        QCOMPARE(Pending(stream), QByteArray(996, 'z') + Bytes("07000000"));
    }

    void userStatsRoundTripIn20Bytes()
    {
        const QString wire = statsWire;
        MemStream stream = StreamOf(Bytes(wire + "02000000" + wire + wire));
        UserStats stats;
        std::list<UserStats> list;
        QVERIFY(stream.Read(stats));
        QCOMPARE(stream.GetPendingReadLength(), 44);
        QVERIFY(stats.m_averageSpeed == 51200 && stats.m_value64 == 0x100000002);
        QVERIFY(stats.m_sharedFileCount == 345 && stats.m_value32 == -1);
        QVERIFY(stream.Read(list));
        QVERIFY(list.size() == 2 && list.back().m_sharedFileCount == 345);
        QCOMPARE(Written(stats), QString(wire).remove(' '));

        MemStream cut = StreamOf(Bytes(wire).left(19));
        UserStats partial;
        QVERIFY(!cut.Read(partial));
        QVERIFY(partial.m_sharedFileCount == 345 && partial.m_value32 == 0);
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
