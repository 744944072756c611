#include <memory>

#include <QFile>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTextBrowser>
#include <QtTest>

#include "ChatForm.h"
#include "ChatText.h"
#include "ChatsForm.h"
#include "FakeCentralServer.h"
#include "MainWindowRun.h"
#include "RoomViews.h"
#include "Server.h"
#include "ui_ChatForm.h"
#include "ui_ChatsForm.h"

namespace {
using ServerBytes::Fields;

const QString timePattern = "\\[[A-Z][a-z]{2} \\d{1,2} \\d{1,2}:\\d\\d:\\d\\d [ap]m\\]";

QString ReadLog(const QString& user)
{
    QFile file(ChatText::LogPath(ChatText::LogKind::User, user));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool LogIs(const QString& user, const QString& pattern)
{
    return QRegularExpression("^" + pattern + "$").match(ReadLog(user)).hasMatch();
}
} // namespace

class ChatsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<MainWindowRun> run;

    QTabWidget* Tabs() { return chatsForm->Form()->chatTabControl; }

private slots:
    void initTestCase()
    {
        RoomViews::Install();
        run = std::make_unique<MainWindowRun>();
        run->Start();
        QVERIFY(run->WaitLoggedIn());
    }

    void cleanupTestCase() { run.reset(); }

    void receivedMessageOpensATabAndIsLogged()
    {
        run->Server().ClearMessages();
        run->Server().Send(22, qint32(77), qint32(0), QString("bob"), QString(" hi <x> "),
                           quint8(1));
        QTRY_COMPARE(Tabs()->count(), 1);
        QCOMPARE(Tabs()->tabText(0), QString("bob"));
        QVERIFY(run->Server().WaitForCode(23));
        QCOMPARE(run->Server().MessagesWithCode(23).first().fields, Fields(qint32(77)));
        QVERIFY(LogIs("bob", timePattern + "\\[bob\\]  hi <x> \\n"));
        auto* chat = qobject_cast<ChatForm*>(Tabs()->widget(0));
        QVERIFY(chat->Form()->chatView->toPlainText().contains("[bob] hi <x>"));

        run->Server().Send(22, qint32(78), qint32(0), QString("bob"), QString("again"), quint8(1));
        QTRY_VERIFY(chat->Form()->chatView->toPlainText().endsWith("again"));
        QCOMPARE(Tabs()->count(), 1);
    }

    void typedLineIsSentAndLogged()
    {
        auto* chat = chatsForm->GetChatForm("bob");
        QFile::remove(ChatText::LogPath(ChatText::LogKind::User, "bob"));
        run->Server().ClearMessages();
        chat->Form()->chatEdit->setText("yo");
        QTest::keyClick(chat->Form()->chatEdit, Qt::Key_Return);
        QVERIFY(run->Server().WaitForCode(22));
        QCOMPARE(run->Server().MessagesWithCode(22).first().fields,
                 Fields(QString("bob"), QString("yo")));
        QVERIFY(LogIs("bob", timePattern + "\\[alice\\] yo\\n"));
        QVERIFY(chat->Form()->chatEdit->text().isEmpty());
    }

    void lineTypedWhileLoggedOutSaysItWasNotSent()
    {
        auto* chat = chatsForm->GetChatForm("bob");
        gp_server->Disconnect();
        QTRY_VERIFY(!gp_server->IsConnected());
        chat->Form()->chatEdit->setText("lost?");
        QTest::keyClick(chat->Form()->chatEdit, Qt::Key_Return);
        QVERIFY(chat->Form()->chatView->toPlainText().endsWith(
            "* Not sent: you are not logged in to the server."));
    }

    void trayTextIsCut_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("tail");
        QTest::newRow("100") << 100 << "x";
        QTest::newRow("101") << 101 << "x ...";
    }

    void trayTextIsCut()
    {
        QFETCH(int, length);
        QFETCH(QString, tail);
        const QString tray = ChatForm::TrayText("bob", QString(length, 'x'));
        QCOMPARE(tray, "[bob] " + QString(100, 'x').chopped(1) + tail);
    }
};

QTEST_MAIN(ChatsTest)
#include "tst_chats.moc"
