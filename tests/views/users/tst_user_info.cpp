#include <memory>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QTabWidget>
#include <QtTest>

#include "Data.h"
#include "FakePeer.h"
#include "MainWindowRun.h"
#include "PeerMessenger.h"
#include "RoomViews.h"
#include "Settings.h"
#include "TransferQueueManager.h"
#include "UserInfoBrowser.h"
#include "UserInfoForm.h"
#include "UserInfoReply.h"
#include "UserListForm.h"
#include "UserViews.h"
#include "ui_UserInfoForm.h"
#include "ui_UserListForm.h"

namespace {
QByteArray Png(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QByteArray InfoReply(const QString& description, const QByteArray& picture)
{
    const QByteArray sized = FakePeer::Body(std::uint32_t(picture.size())) + picture;
    return FakePeer::Body(16, description, !picture.isEmpty()) +
           (picture.isEmpty() ? QByteArray() : sized) + FakePeer::Body(3, std::uint32_t(7), true);
}
} // namespace

class UserInfoTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<MainWindowRun> run;
    std::unique_ptr<FakePeer> bob;

private slots:
    void initTestCase()
    {
        RoomViews::Install();
        UserViews::Install();
        run = std::make_unique<MainWindowRun>();
        run->Start();
        QVERIFY(run->WaitLoggedIn());
        bob = std::make_unique<FakePeer>();
        bob->Dial(peerMessenger->ListeningPort());
        QTRY_VERIFY(bob->IsConnected());
        bob->SendFrame(FakePeer::InitBody("bob", "P"));
        Settings::Set("user_description", "hi");
        Settings::Set("upload_slots", "2");
    }

    void cleanupTestCase()
    {
        bob.reset();
        run.reset();
    }

    void answersARequestWithOurOwnInfo_data()
    {
        QTest::addColumn<QByteArray>("picture"); // empty: no file
        QTest::addColumn<QByteArray>("expected");
        const QByteArray head = QByteArray::fromHex("10000000 02000000 6869");
        const QByteArray tail = QByteArray::fromHex("02000000 00000000 01");
        QTest::newRow("no picture set") << QByteArray() << head + QByteArray::fromHex("00") + tail;
        QTest::newRow("five-byte picture")
            << QByteArray("abcde") << head + QByteArray::fromHex("01 05000000") + "abcde" + tail;
        QTest::newRow("picture at the frame limit left out")
            << QByteArray(0xA00000, 'x') << head + QByteArray::fromHex("00") + tail;
    }

    void answersARequestWithOurOwnInfo()
    {
        QFETCH(QByteArray, picture);
        const QString path = run->Home() + "/me.png";
        QFile::remove(path);
        if (!picture.isEmpty())
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(picture);
        }
        // A named file that is missing sends no picture.
        Settings::Set("user_picture_file", Value(path));
        bob->frames.clear();
        bob->Send(15);
        QVERIFY(bob->WaitForFrames(1));
        QTEST(bob->frames.first(), "expected");
    }

    // The reply tells what the upload queue will do: one entry waits, the only slot is busy.
    void replyCarriesTheUploadQueuesCounts()
    {
        Settings::Set("upload_slots", "1");
        Settings::Set("user_picture_file", "");
        Type* entries = d.GetType("upload_entry");
        Type* statuses = d.GetType("upload_entry_status");
        ItemPtr waiting = entries->NewItem();
        waiting.Connect(statuses->GetItem(Value("queued")));
        ItemPtr running = entries->NewItem();
        running.Connect(statuses->GetItem(Value("uploading")));
        QCOMPARE(transferQueueManager->QueuedUploadCount(), 1);
        QVERIFY(!transferQueueManager->IsFreeToUpload());

        bob->frames.clear();
        bob->Send(15);
        QVERIFY(bob->WaitForFrames(1));
        QCOMPARE(bob->frames.first().right(9), QByteArray::fromHex("01000000 01000000 00"));
        waiting.Remove();
        running.Remove();
        Settings::Set("upload_slots", "2");
    }

    void descriptionIsCutOnACharacterBoundary_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<int>("bytes");
        const int limit = UserInfoReply::maxDescriptionBytes;
        QTest::newRow("at the limit") << QString(limit, 'a') << limit;
        QTest::newRow("two-byte char across the limit")
            << QString(limit - 1, 'a') + QString::fromUtf8("\xc3\xa9") << limit - 1;
        QTest::newRow("four-byte char across the limit")
            << QString(limit - 2, 'a') + QString::fromUtf8("\xf0\x9f\x98\x80") << limit - 2;
    }

    void descriptionIsCutOnACharacterBoundary()
    {
        QFETCH(QString, description);
        const QByteArray cut = UserInfoReply::DescriptionBytes(description);
        QTEST(cut.size(), "bytes");
        QCOMPARE(QString::fromUtf8(cut).toUtf8(), cut);
    }

    void showsAnotherUsersInfo_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<QByteArray>("picture");
        QTest::addColumn<QSize>("shownSize");
        QTest::addColumn<QString>("text");
        QTest::newRow("wide picture") << "" << Png(1000, 300) << QSize(800, 240) << "";
        QTest::newRow("tall picture") << "" << Png(600, 500) << QSize(480, 400) << "";
        QTest::newRow("fits unscaled") << "x" << Png(800, 400) << QSize(800, 400) << "x";
        QTest::newRow("no info") << "" << QByteArray() << QSize(0, 0) << "No user info.";
        QTest::newRow("undecodable picture keeps the text")
            << "a\nb" << QByteArray("not an image") << QSize(0, 0) << "a\nb";
    }

    void showsAnotherUsersInfo()
    {
        QFETCH(QString, description);
        QFETCH(QByteArray, picture);
        QFETCH(QSize, shownSize);
        bob->frames.clear();
        userListForm->GetUserInfoForm("bob");
        UserInfoForm* form = userListForm->GetUserInfoForm("bob");
        QVERIFY(bob->WaitForFrames(1));
        QCOMPARE(bob->frames.first(), QByteArray::fromHex("0f000000"));
        bob->SendFrame(InfoReply(description, picture));
        QTRY_COMPARE(form->Form()->queuedUploadsEdit->text(), QString("7"));
        QCOMPARE(form->Form()->uploadSlotsEdit->text(), QString("3"));
        QCOMPARE(form->Form()->freeToUploadEdit->text(), QString("Yes"));
        QCOMPARE(form->Form()->userInfoText->Picture().size(), shownSize);
        QTEST(form->Form()
                  ->userInfoText->toPlainText()
                  .remove(QChar::ObjectReplacementCharacter)
                  .trimmed(),
              "text");
        QCOMPARE(userListForm->Form()->userInfoTabs->count(), 1);
    }

    void cleanup()
    {
        QTabWidget* tabs = userListForm->Form()->userInfoTabs;
        while (tabs->count() > 0)
            userListForm->OnUserInfoTabCloseRequested(0);
    }

    void descriptionLoadsNothingItNames()
    {
        UserInfoBrowser browser;
        browser.setHtml("<img src=\"file:///etc/hostname\" /><img src=\"qrc:/icons/note_icon\" />");
        QVERIFY(browser.loadResource(QTextDocument::ImageResource, QUrl("qrc:/icons/note_icon"))
                    .isNull());
        QVERIFY(!browser.openLinks());
    }
};

QTEST_MAIN(UserInfoTest)
#include "tst_user_info.moc"
