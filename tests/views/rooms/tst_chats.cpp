#include <memory>

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTimer>
#include <QtTest>

#include "ChatForm.h"
#include "ChatText.h"
#include "ChatsForm.h"
#include "Data.h"
#include "EventToolBar.h"
#include "FakeCentralServer.h"
#include "MainWindowRun.h"
#include "RoomViews.h"
#include "Server.h"
#include "ServerTypes.h"
#include "TabFocus.h"
#include "UserMenuOptions.h"
#include "ui_ChatForm.h"
#include "ui_ChatsForm.h"
#include "ui_mainwindow.h"

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

QStringList Texts(const QMenu* menu)
{
    QStringList texts;
    for (const QAction* action : menu->actions())
        texts << (action->isSeparator() ? QString("|") : action->text());
    return texts;
}

// Right-clicks the chat view and returns the entries of the menu that opens, after choosing
// the one with the given text.
QStringList RightClick(ChatForm* chat, const QString& choice)
{
    QStringList texts;
    QTimer answer;
    answer.setSingleShot(true);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        texts = Texts(menu);
        QAction* chosen = nullptr;
        for (QAction* action : menu->actions())
            if (action->text() == choice)
                chosen = action;
        menu->close();
        if (chosen)
            chosen->trigger();
    });
    answer.start(0);
    emit chat->Form()->chatView->customContextMenuRequested(QPoint(4, 4));
    return texts;
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

    // The partner's own per-user menu: carol is listed, bob is not, so their menus differ.
    void rightClickOffersThePartnersMenu()
    {
        auto* bob = chatsForm->GetChatForm("bob");
        auto* carol = chatsForm->GetChatForm("carol");
        ItemPtr(d.GetType(ServerTypes::user)->GetItem(Value("carol")))
            .NewItem(ServerTypes::inUserList);
        FocusWidgetAndParents(bob->Form()->chatEdit);
        QMenu expected;
        UserMenuOptions options(&expected, "carol");

        const QStringList texts = RightClick(carol, "Message user");
        QCOMPARE(texts, Texts(&expected));
        QVERIFY(texts.contains("Remove user from list"));
        QCOMPARE(Tabs()->currentWidget(), carol);
    }

    void lineTypedWhileLoggedOutStaysInTheInput()
    {
        auto* chat = chatsForm->GetChatForm("dan");
        QFile::remove(ChatText::LogPath(ChatText::LogKind::User, "dan"));
        // With the chat out of sight every line posts an event with a tray message.
        run->Form()->tabControl->setCurrentIndex(0);
        QStringList popups;
        eventToolBar->SetWindowCalls(
            {[](const QString&) {}, [] {}, [&](const QString& text) { popups << text; }});
        chat->Form()->chatEdit->setText("sent");
        QTest::keyClick(chat->Form()->chatEdit, Qt::Key_Return);
        QCOMPARE(popups, QStringList{"[alice] sent"});
        QVERIFY(LogIs("dan", timePattern + "\\[alice\\] sent\\n"));

        QFile::remove(ChatText::LogPath(ChatText::LogKind::User, "dan"));
        gp_server->Disconnect();
        QTRY_VERIFY(!gp_server->IsConnected());
        const QString before = chat->Form()->chatView->toPlainText();
        chat->Form()->chatEdit->setText("lost?");
        QTest::keyClick(chat->Form()->chatEdit, Qt::Key_Return);
        QCOMPARE(chat->Form()->chatView->toPlainText(),
                 before + "\n* Not sent: you are not logged in to the server.");
        QCOMPARE(chat->Form()->chatEdit->text(), QString("lost?"));
        QVERIFY(!QFile::exists(ChatText::LogPath(ChatText::LogKind::User, "dan")));
        QCOMPARE(popups, QStringList{"[alice] sent"});
        eventToolBar->SetWindowCalls({[](const QString&) {}, [] {}, [](const QString&) {}});
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
