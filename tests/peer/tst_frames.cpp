#include <QtTest>

#include "MemStream.h"
#include "ObfuscationCodec.h"
#include "PeerFrame.h"

Q_DECLARE_METATYPE(PeerFrame::Verdict)

class tst_Frames : public QObject
{
    Q_OBJECT

    static QByteArray Bytes(QString hex) { return QByteArray::fromHex(hex.remove(' ').toLatin1()); }

private slots:
    void obfuscatesWithRotatingKey_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("code 4") << Bytes("04000000") << Bytes("78563412 F4AC6824 E459D148");
        QTest::newRow("odd tail") << Bytes("29000000 07000000 01")
                                  << Bytes("78563412 F9AC6824 C959D148 C7B3A291 80");
        QTest::newRow("empty") << QByteArray() << Bytes("78563412 F0AC6824");
    }

    void obfuscatesWithRotatingKey()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, frame);
        QCOMPARE(PeerFrame::EncodeObfuscated(body.data(), body.size(), 0x12345678).toHex(),
                 frame.toHex());
    }

    void decodesWhatItEncodes_data()
    {
        QTest::addColumn<QByteArray>("body");
        for (int length = 0; length <= 64; ++length)
        {
            QByteArray body(length, 'x'); // scrambled into varied bytes
            ObfuscationCodec(0x9E3779B9).Apply(body.data(), length);
            QTest::addRow("%d bytes", length) << body;
        }
    }

    // Bytes after the frame are left for the next one.
    void decodesWhatItEncodes()
    {
        QFETCH(QByteArray, body);
        for (bool obfuscated : {false, true})
        {
            const quint32 key = 0x9E3779B9u * body.size();
            const QByteArray frame =
                obfuscated ? PeerFrame::EncodeObfuscated(body.data(), body.size(), key)
                           : PeerFrame::Encode(body.data(), body.size());
            const QByteArray arrived = frame + "next";
            MemStream decoded;
            int used = -1;
            QCOMPARE(PeerFrame::Decode(arrived.data(), arrived.size(), obfuscated, decoded, used),
                     PeerFrame::Verdict::Whole);
            QCOMPARE(used, frame.size());
            QCOMPARE(QByteArray(decoded.GetWrittenData(), decoded.GetWrittenLength()).toHex(),
                     body.toHex());
        }
    }

    // Pieces of any size must give what one pass gives.
    void carriesGroupsAcrossPieces()
    {
        QByteArray whole(23, 'x'), pieces(23, 'x');
        ObfuscationCodec(0x80000001).Apply(whole.data(), 23);
        ObfuscationCodec codec(0x80000001);
        codec.Apply(pieces.data(), 3);
        codec.Apply(pieces.data() + 3, 20);
        QCOMPARE(pieces.toHex(), whole.toHex());
    }

    void givesVerdicts_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("obfuscated");
        QTest::addColumn<PeerFrame::Verdict>("verdict");
        QTest::addColumn<int>("used");
        using V = PeerFrame::Verdict;
        QTest::newRow("3 header bytes") << Bytes("000000") << false << V::Incomplete << 0;
        QTest::newRow("body short") << Bytes("03000000 6161") << false << V::Incomplete << 0;
        QTest::newRow("7 header bytes") << Bytes("78563412 F0AC68") << true << V::Incomplete << 0;
        QTest::newRow("at limit, no body") << Bytes("0000A000") << false << V::Incomplete << 0;
        QTest::newRow("over limit") << Bytes("0100A000") << false << V::TooLong << 4;
        // 0x00A00001 XORed with the key 0x12345678 rotated once.
        QTest::newRow("obfuscated over limit")
            << Bytes("78563412 F1ACC824") << true << V::TooLong << 8;
        QTest::newRow("two frames") << Bytes("01000000 61 00000000") << false << V::Whole << 5;
    }

    void givesVerdicts()
    {
        QFETCH(QByteArray, data);
        QFETCH(bool, obfuscated);
        MemStream body;
        int used = -1;
        QTEST(PeerFrame::Decode(data.data(), data.size(), obfuscated, body, used), "verdict");
        QTEST(used, "used");
    }
};

QTEST_GUILESS_MAIN(tst_Frames)
#include "tst_frames.moc"
