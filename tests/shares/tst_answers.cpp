#include <memory>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "CompressedBody.h"
#include "FakeCentralServer.h"
#include "FakePeer.h"
#include "ServerTestSetup.h"
#include "Settings.h"
#include "SharesTestSetup.h"
#include "UserStats.h"

namespace {
// One file record as a receiver reads it.
void WriteRecord(MemStream& body, const QString& name, qint64 size, const std::string& extension)
{
    body.Write(true);
    body.Write(name.toStdString());
    body.Write(size);
    body.Write(extension);
    body.Write(std::uint32_t(0));
}

QByteArray Bytes(const MemStream& stream)
{
    return QByteArray(stream.GetWrittenData(), stream.GetWrittenLength());
}

// The inflated body of a compressed message with the code.
QByteArray Inflated(const QByteArray& frame, std::uint32_t code)
{
    MemStream body;
    if (frame.left(4) != FakePeer::Body(code) ||
        !CompressedBody::Inflate(frame.constData() + 4, frame.size() - 4, body))
        return QByteArray("not a compressed message of that code");
    return Bytes(body);
}
} // namespace

class SharesAnswersTest : public QObject
{
    Q_OBJECT

private:
    Server* server = nullptr;
    PeerMessenger* messenger = nullptr;
    SharedFoldersManager* shares = nullptr;
    std::unique_ptr<FakeCentralServer> central;
    QTemporaryDir temporary;
    QString music;
    // How peers name the folders: the local path with backslashes.
    QString listedMusic;
    QString listedLive;

    std::unique_ptr<FakePeer> Dial(const QString& user)
    {
        auto peer = std::make_unique<FakePeer>();
        peer->Dial(messenger->ListeningPort());
        peer->SendFrame(FakePeer::InitBody(user, "P"));
        return peer;
    }

private slots:
    void initTestCase()
    {
        central = std::make_unique<FakeCentralServer>();
        shares = SharesTestSetup::Build(server, messenger);
        Settings::Set("password", "pw");
        QVERIFY(ServerTestSetup::LogIn(*server, *central));
        music = temporary.path() + "/Music";
        QVERIFY(SharesTestSetup::WriteFile(music + "/Song One.mp3", "12345"));
        QVERIFY(SharesTestSetup::WriteFile(music + "/notes.txt", "abc"));
        QVERIFY(SharesTestSetup::WriteFile(music + "/Live/Song Two.ogg", "1234"));
        listedMusic = QString(music).replace('/', '\\');
        listedLive = listedMusic + "\\Live";
        shares->AddSharedFolder(music).NewItem(SharesTypes::sharedPublic);
        Settings::Set(SharesSettings::uploadSpeed, "777");
    }

    void cleanupTestCase()
    {
        delete shares;
        delete messenger;
        delete server;
    }

    void answersServerSearchOverPeerLink()
    {
        QSignalSpy processed(shares, &SharedFoldersManager::SearchProcessed);
        FakePeer asker;
        MessengerTestSetup::SetUserAddress("alice", asker.Listen());
        // Each query has its own token: the first answer that arrives tells which was answered.
        central->Send(26, QString("alice"), quint32(5), QString("so"));
        central->Send(26, QString("alice"), quint32(6), QString("-song"));
        central->Send(26, QString("alice"), quint32(7), QString("song"));
        QTRY_COMPARE(processed.size(), 3);
        QCOMPARE(processed.at(0), (QVariantList{QString("so"), false}));
        QCOMPARE(processed.at(1), (QVariantList{QString("-song"), false}));
        QCOMPARE(processed.at(2), (QVariantList{QString("song"), true}));

        QVERIFY(asker.WaitForFrames(2));
        QCOMPARE(asker.frames[0], FakePeer::InitBody("me", "P"));
        MemStream expected;
        expected.Write(QString("me"));
        expected.Write(std::uint32_t(7));
        expected.Write(std::uint32_t(2));
        WriteRecord(expected, listedLive + "\\Song Two.ogg", 4, "");
        WriteRecord(expected, listedMusic + "\\Song One.mp3", 5, "mp3");
        expected.Write(true);
        expected.Write(std::uint32_t(777));
        expected.Write(std::uint32_t(0));
        expected.Write(std::uint32_t(0));
        QCOMPARE(Inflated(asker.frames[1], 9), Bytes(expected));
    }

    void sendsShareList()
    {
        auto peer = Dial("bob");
        peer->Send(4);
        QVERIFY(peer->WaitForFrames(1));
        MemStream expected;
        expected.Write(std::uint32_t(2));
        expected.Write(listedMusic.toStdString());
        expected.Write(std::uint32_t(2));
        WriteRecord(expected, "Song One.mp3", 5, "mp3");
        WriteRecord(expected, "notes.txt", 3, "");
        expected.Write(listedLive.toStdString());
        expected.Write(std::uint32_t(1));
        WriteRecord(expected, "Song Two.ogg", 4, "");
        expected.Write(std::uint32_t(0));
        QCOMPARE(Inflated(peer->frames[0], 5), Bytes(expected));
    }

    void sendsFolderContentsOnlyForExactFolder()
    {
        auto peer = Dial("carol");
        peer->Send(36, std::uint32_t(41), listedLive.toLower());
        peer->Send(36, std::uint32_t(42), listedLive);
        QVERIFY(peer->WaitForFrames(1));
        MemStream expected;
        expected.Write(std::uint32_t(42));
        expected.Write(listedLive);
        expected.Write(std::uint32_t(1));
        expected.Write(listedLive);
        expected.Write(std::uint32_t(1));
        WriteRecord(expected, "Song Two.ogg", 4, "");
        expected.Write(std::uint32_t(0));
        QCOMPARE(Inflated(peer->frames[0], 37), Bytes(expected));
    }

    void reportsShareAndAsksOwnStatsAtLogin()
    {
        central->ClearMessages();
        emit server->Connected();
        QVERIFY(central->WaitForCode(36));
        MemStream counts = central->MessagesWithCode(35).value(0).Fields();
        qint32 folders = 0, files = 0;
        QVERIFY(counts.Read(folders) && counts.Read(files));
        QCOMPARE(folders, 2);
        QCOMPARE(files, 3);
        MemStream asked = central->MessagesWithCode(36).first().Fields();
        QString user;
        QVERIFY(asked.Read(user));
        QCOMPARE(user, QString("me"));
    }

    void keepsOwnUploadSpeed_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("speed");
        QTest::newRow("own stats") << "me"
                                   << "0";
        QTest::newRow("another user's stats") << "dave"
                                              << "777";
    }

    void keepsOwnUploadSpeed()
    {
        QFETCH(QString, user);
        QFETCH(QString, speed);
        Settings::Set(SharesSettings::uploadSpeed, "777");
        UserStats stats;
        central->Send(36, user, stats);
        QVERIFY(ServerTestSetup::Settle(*server, *central));
        QCOMPARE(Settings::GetText(SharesSettings::uploadSpeed), speed);
    }
};

QTEST_GUILESS_MAIN(SharesAnswersTest)
#include "tst_answers.moc"
