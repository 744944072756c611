#include <sys/stat.h>

#include <QtTest>

#include "MP3FrameScanner.h"

namespace {
enum Version
{
    Mpeg1 = 3,
    Mpeg2 = 2,
    Mpeg25 = 0
};

// Frames of one kind with zeroed audio, each as long as its header says.
QByteArray Frames(int count, int bitrateIndex, int version = Mpeg1, int sampleRate = 0,
                  int mode = 1)
{
    static const int mpeg1Kbps[] = {0,   32,  40,  48,  56,  64,  80, 96,
                                    112, 128, 160, 192, 224, 256, 320};
    static const int mpeg2Kbps[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static const int hz[4][3] = {
        {11025, 12000, 8000}, {}, {22050, 24000, 16000}, {44100, 48000, 32000}};
    const int length = version == Mpeg1
                           ? 144 * mpeg1Kbps[bitrateIndex] * 1000 / hz[version][sampleRate]
                           : 72 * mpeg2Kbps[bitrateIndex] * 1000 / hz[version][sampleRate];
    QByteArray frame(length, '\0');
    frame[0] = char(0xFF);
    frame[1] = char(0xE0 | version << 3 | 0x02 | 0x01);
    frame[2] = char(bitrateIndex << 4 | sampleRate << 2);
    frame[3] = char(mode << 6);
    return frame.repeated(count);
}

QByteArray RandomBytes(quint32 seed, int size)
{
    QByteArray bytes(size, '\0');
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

bool Scan(const QByteArray& content, int& version, QString& mode, int& frequency, bool& vbr,
          int& bitrate)
{
    QTemporaryDir folder;
    QFile file(folder.filePath("a.mp3"));
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return false;
    file.close();
    return MP3FrameScanner::ScanMP3(file.fileName(), version, mode, frequency, vbr, bitrate);
}
} // namespace

class SharesMP3ScannerTest : public QObject
{
    Q_OBJECT

private slots:
    void reportsStream_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("frequency");
        QTest::addColumn<bool>("vbr");
        QTest::addColumn<int>("bitrate");
        QTest::newRow("cbr 128") << Frames(100, 9) << 1 << "joint stereo" << 0 << false << 128;
        QTest::newRow("vbr average")
            << Frames(50, 9) + Frames(50, 11) << 1 << "joint stereo" << 0 << true << 160;
        QTest::newRow("98 % is vbr")
            << Frames(98, 9) + Frames(2, 14) << 1 << "joint stereo" << 0 << true << 131;
        QTest::newRow("99 % is cbr")
            << Frames(99, 9) + Frames(1, 14) << 1 << "joint stereo" << 0 << false << 128;
        QTest::newRow("48 kHz is index 1")
            << Frames(20, 14, Mpeg1, 1, 0) << 1 << "stereo" << 1 << false << 320;
        QTest::newRow("mpeg-2") << Frames(40, 8, Mpeg2, 2, 3) << 2 << "mono" << 2 << false << 64;
        QTest::newRow("version tie")
            << Frames(30, 9) + Frames(30, 8, Mpeg2) << 2 << "joint stereo" << 0 << false << 64;
        QTest::newRow("mode tie") << Frames(30, 9, Mpeg1, 0, 0) + Frames(30, 9, Mpeg1, 0, 3) << 1
                                  << "mono" << 0 << false << 128;
        QTest::newRow("across blocks")
            << Frames(300, 14, Mpeg1, 1, 2) << 1 << "dual mono" << 1 << false << 320;
        QTest::newRow("cut inside last frame")
            << Frames(20, 9).chopped(300) << 1 << "joint stereo" << 0 << false << 128;
        QTest::newRow("within noise") << RandomBytes(7, 8192) + Frames(50, 9) + RandomBytes(8, 8192)
                                      << 1 << "joint stereo" << 0 << false << 128;
    }

    void reportsStream()
    {
        QFETCH(QByteArray, content);
        int version = 0, frequency = -1, bitrate = 0;
        QString mode;
        bool vbr = false;
        QVERIFY(Scan(content, version, mode, frequency, vbr, bitrate));
        QTEST(version, "version");
        QTEST(mode, "mode");
        QTEST(frequency, "frequency");
        QTEST(vbr, "vbr");
        QTEST(bitrate, "bitrate");
    }

    void givesNoResult_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("mpeg-2.5 only") << Frames(40, 8, Mpeg25, 0, 1);
        QTest::newRow("no sync") << QByteArray("\xFF\xDF", 2).repeated(4096);
        QTest::newRow("cut inside header") << Frames(1, 9).left(3);
        QTest::newRow("free format only")
            << Frames(1, 9).left(4).replace(2, 1, "\x00", 1).repeated(50);
        QTest::newRow("layer ii only") << Frames(1, 9).replace(1, 1, "\xFD", 1).repeated(40);
        QTest::newRow("headers without frames") << Frames(1, 9).left(4).repeated(1000);
        for (quint32 seed = 1; seed <= 2; ++seed)
            QTest::addRow("random %u", seed) << RandomBytes(seed, 1 << 20);
    }

    void givesNoResult()
    {
        QFETCH(QByteArray, content);
        int version = 0, frequency = 0, bitrate = 0;
        QString mode;
        bool vbr = false;
        QVERIFY(!Scan(content, version, mode, frequency, vbr, bitrate));
        QCOMPARE(bitrate, -1);
    }

    void unreadablePathGivesNoResult_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("missing") << "missing.mp3";
        QTest::newRow("folder") << "folder.mp3";
        QTest::newRow("named pipe") << "pipe.mp3";
    }

    void unreadablePathGivesNoResult()
    {
        QFETCH(QString, name);
        QTemporaryDir folder;
        QVERIFY(QDir(folder.path()).mkdir("folder.mp3"));
        QCOMPARE(mkfifo(QFile::encodeName(folder.filePath("pipe.mp3")).constData(), 0600), 0);
        int version = 0, frequency = 0, bitrate = 0;
        QString mode;
        bool vbr = false;
        QVERIFY(!MP3FrameScanner::ScanMP3(folder.filePath(name), version, mode, frequency, vbr,
                                          bitrate));
        QCOMPARE(bitrate, -1);
    }

    // Over 21.5 million frames: a share computed as count * 100 in 32 bits would overflow.
    void countsBeyondThirtyTwoBits()
    {
        const QByteArray block = Frames(2730, 1, Mpeg2, 1, 3); // 24-byte frames filling a block
        QCOMPARE(block.size(), 65520);
        MP3FrameScanner scanner;
        for (int index = 0; index < 8000; ++index)
            scanner.ScanBlock(block.constData(), block.size());
        int version = 0, frequency = 0, bitrate = 0;
        QString mode;
        bool vbr = true;
        QVERIFY(scanner.GetResults(version, mode, frequency, vbr, bitrate));
        QCOMPARE(vbr, false);
        QCOMPARE(bitrate, 8);
    }
};

QTEST_GUILESS_MAIN(SharesMP3ScannerTest)
#include "tst_mp3_scanner.moc"
