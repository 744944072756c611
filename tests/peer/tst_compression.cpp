#include <QtTest>

#include "CompressedBody.h"
#include "MemStream.h"
#include "ShareListBody.h"

class tst_Compression : public QObject
{
    Q_OBJECT

    // The compressed part of a message holding the given body bytes.
    static QByteArray Compressed(const QByteArray& body)
    {
        MemStream plain, message;
        quint32 code = 0;
        plain.WriteBuffer(body.data(), body.size());
        if (!CompressedBody::Compress(9, plain, message) || !message.Read(code))
            return {};
        return {message.GetReadBuffer(), message.GetPendingReadLength()};
    }

private slots:
    void carriesShareListInMessage()
    {
        ShareListBody list;
        FileInfo file;
        file.name = "song.mp3";
        file.size = 4000000;
        for (int index = 0; index < 1000; ++index)
            list.folders["\\music\\" + std::to_string(index)].insert(file);
        MemStream body, message;
        QVERIFY(list.Write(body));
        QVERIFY(CompressedBody::Compress(5, body, message));
        quint32 code = 0;
        QVERIFY(message.Read(code));
        QCOMPARE(code, 5u);
        QVERIFY(message.GetPendingReadLength() < body.GetWrittenLength() / 10);
        MemStream inflated;
        QVERIFY(CompressedBody::Inflate(message.GetReadBuffer(), message.GetPendingReadLength(),
                                        inflated));
        ShareListBody back;
        QVERIFY(back.Read(inflated));
        QCOMPARE(back.folders.size(), size_t(1000));
        QCOMPARE(back.folders["\\music\\999"].begin()->size, qint64(4000000));
    }

    void refusesBadStreams_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("cap");
        QTest::addColumn<bool>("ok");
        const QByteArray thousand = Compressed(QByteArray(1000, 'a'));
        QTest::newRow("at cap") << thousand << 1000 << true;
        QTest::newRow("past cap") << thousand << 999 << false;
        QTest::newRow("cut") << thousand.left(thousand.size() - 1) << 1000 << false;
        QTest::newRow("header only") << thousand.left(2) << 1000 << false;
        QTest::newRow("empty") << QByteArray() << 1000 << false;
        QTest::newRow("garbage") << QByteArray("\x78\x9c garbage, not deflate") << 1000 << false;
        QTest::newRow("bad check") << thousand.left(thousand.size() - 1) + 'x' << 1000 << false;
        QTest::newRow("trailing bytes") << thousand + "tail" << 1000 << true;
    }

    void refusesBadStreams()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, cap);
        MemStream body;
        QTEST(CompressedBody::Inflate(data.data(), data.size(), body, cap), "ok");
    }

    void refusesBodyPastDefaultCap()
    {
        const QByteArray bomb = Compressed(QByteArray(CompressedBody::MaxInflatedSize + 1, '\0'));
        QVERIFY(!bomb.isEmpty());
        MemStream body;
        QVERIFY(!CompressedBody::Inflate(bomb.data(), bomb.size(), body));
        QVERIFY(body.GetWrittenLength() <= CompressedBody::MaxInflatedSize);
    }
};

QTEST_GUILESS_MAIN(tst_Compression)
#include "tst_compression.moc"
