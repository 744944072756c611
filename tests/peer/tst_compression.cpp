#include <QtTest>

#include "CompressedBody.h"
#include "MemStream.h"
#include "ShareListBody.h"

class tst_Compression : public QObject
{
    Q_OBJECT

    // The message of code 5 holding the body bytes, or empty when compression fails.
    static QByteArray Message(const QByteArray& body)
    {
        MemStream plain, message;
        plain.WriteBuffer(body.data(), body.size());
        if (!CompressedBody::Compress(5, plain, message))
            return {};
        return {message.GetWrittenData(), message.GetWrittenLength()};
    }

private slots:
    void carriesShareListInMessage()
    {
        ShareListBody list, back;
        for (int index = 0; index < 1000; ++index)
            list.folders["\\music\\" + std::to_string(index)];
        MemStream body, inflated;
        QVERIFY(list.Write(body));
        const QByteArray message = Message({body.GetWrittenData(), body.GetWrittenLength()});
        QCOMPARE(message.left(4).toHex(), QByteArray("05000000"));
        QVERIFY(CompressedBody::Inflate(message.data() + 4, message.size() - 4, inflated));
        QVERIFY(back.Read(inflated));
        QCOMPARE(back.folders.size(), size_t(1000));
    }

    void refusesBadStreams_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("cap");
        QTest::addColumn<bool>("ok");
        const QByteArray thousand = Message(QByteArray(1000, 'a')).mid(4);
        QTest::newRow("at cap") << thousand << 1000 << true;
        QTest::newRow("past cap") << thousand << 999 << false;
        QTest::newRow("cut") << thousand.left(thousand.size() - 1) << 1000 << false;
        QTest::newRow("empty") << QByteArray() << 1000 << false;
        QTest::newRow("garbage") << QByteArray("\x78\x9c garbage, not deflate") << 1000 << false;
        QTest::newRow("bad check") << thousand.left(thousand.size() - 1) + 'x' << 1000 << false;
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
        const QByteArray bomb =
            Message(QByteArray(CompressedBody::MaxInflatedSize + 1, '\0')).mid(4);
        MemStream body;
        QVERIFY(!bomb.isEmpty());
        QVERIFY(!CompressedBody::Inflate(bomb.data(), bomb.size(), body));
    }
};

QTEST_GUILESS_MAIN(tst_Compression)
#include "tst_compression.moc"
