#include <memory>

#include <QImage>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

#include "AdminMessageDialog.h"
#include "FakeCentralServer.h"
#include "GiftPrivilegesDialog.h"
#include "Server.h"
#include "ServerTestSetup.h"

// The privilege gift and the administrator message windows.
class AdminDialogsTest : public QObject
{
    Q_OBJECT

    FakeCentralServer fake;
    std::unique_ptr<Server> server;

private slots:
    void initTestCase()
    {
        server = std::make_unique<Server>();
        ServerTestSetup::DeclareTypes(*server);
        ServerTestSetup::ResetStore();
        QVERIFY(ServerTestSetup::LogIn(*server, fake));
    }

    void giftSendsDaysOrNothing_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("days"); // 0: nothing is sent and the dialog stays
        QTest::newRow("leading zeros") << "0007" << 7;
        QTest::newRow("letters are refused") << "a1b2" << 12;
        QTest::newRow("all zeros") << "0000" << 0;
    }

    void giftSendsDaysOrNothing()
    {
        QFETCH(QString, typed);
        QFETCH(int, days);
        fake.ClearMessages();
        QPointer<GiftPrivilegesDialog> dialog = new GiftPrivilegesDialog("bob");
        dialog->show();
        QCOMPARE(dialog->windowTitle(), QString("Gift Privileges to bob"));
        auto* edit = dialog->findChild<QLineEdit*>("daysEdit");
        edit->setFocus();
        edit->setCursorPosition(0);
        QTest::keyClicks(edit, typed);
        dialog->findChild<QPushButton*>("giftButton")->click();
        // A later message marks the point by which a gift would have arrived.
        server->GetOwnPrivilegesStatus();
        QVERIFY(fake.WaitForCode(92));
        QList<ServerMessage> gifts = fake.MessagesWithCode(123);
        QCOMPARE(gifts.size(), days ? 1 : 0);
        if (!days)
        {
            QVERIFY(dialog->isVisible());
            delete dialog;
            return;
        }
        QCOMPARE(gifts.first().fields,
                 FakeCentralServer::Body(0, QString("bob"), qint32(days)).mid(4));
        QTRY_VERIFY(dialog.isNull());
    }

    void adminMessageShowsMarkupButLoadsNothing()
    {
        QTemporaryDir folder;
        QImage image(4, 4, QImage::Format_RGB32);
        const QUrl url = QUrl::fromLocalFile(folder.filePath("p.png"));
        QVERIFY(image.save(url.toLocalFile()));

        QPointer<AdminMessageDialog> dialog = new AdminMessageDialog(
            QString("<p>Read <a href=\"http://x.test/\">this</a></p><img src=\"%1\">")
                .arg(url.toString()));
        dialog->show();
        dialog->grab();
        auto* text = dialog->findChild<QTextEdit*>("textEdit");
        QCOMPARE(text->toPlainText().left(9), QString("Read this"));
        QVERIFY(text->document()->resource(QTextDocument::ImageResource, url).isNull());
        QVERIFY(!(text->textInteractionFlags() & Qt::LinksAccessibleByMouse));
        dialog->close();
        QTRY_VERIFY(dialog.isNull());
    }
};

QTEST_MAIN(AdminDialogsTest)
#include "tst_admin_dialogs.moc"
