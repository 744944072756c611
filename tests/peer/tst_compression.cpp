#include <QtTest>

#include "CompressedBody.h"
#include "MemStream.h"

class tst_Compression : public QObject
{
    Q_OBJECT

private slots:
    // A cap of -1 leaves the default one.
    void inflatesWithinCap_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("cap");
        QTest::addColumn<bool>("ok");
        MemStream plain, message;
        plain.WriteBuffer(QByteArray(1000, 'a').data(), 1000);
        QVERIFY(CompressedBody::Compress(5, plain, message));
        const QByteArray sent(message.GetWrittenData(), message.GetWrittenLength());
        QCOMPARE(sent.left(4).toHex(), QByteArray("05000000"));
        const QByteArray thousand = sent.mid(4);
        QTest::newRow("at cap") << thousand << 1000 << true;
        QTest::newRow("past cap") << thousand << 999 << false;
        QTest::newRow("cut") << thousand.chopped(1) << 1000 << false;
        QTest::newRow("bad check") << thousand.chopped(1) + 'x' << 1000 << false;
        QTest::newRow("empty") << QByteArray() << 1000 << false;
        QTest::newRow("garbage") << QByteArray("\x78\x9c garbage, not deflate") << 1000 << false;
        MemStream zeros, bomb;
        zeros.WriteBuffer(QByteArray(CompressedBody::MaxInflatedSize + 1, '\0').data(),
                          CompressedBody::MaxInflatedSize + 1);
        QVERIFY(CompressedBody::Compress(5, zeros, bomb));
        QTest::newRow("past default cap")
            << QByteArray(bomb.GetWrittenData() + 4, bomb.GetWrittenLength() - 4) << -1 << false;
    }

    void inflatesWithinCap()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, cap);
        QFETCH(bool, ok);
        MemStream body;
        QCOMPARE(cap < 0 ? CompressedBody::Inflate(data.data(), data.size(), body)
                         : CompressedBody::Inflate(data.data(), data.size(), body, cap),
                 ok);
        if (ok)
            QCOMPARE(QByteArray(body.GetWrittenData(), body.GetWrittenLength()),
                     QByteArray(1000, 'a'));
    }
};

QTEST_GUILESS_MAIN(tst_Compression)
#include "tst_compression.moc"
