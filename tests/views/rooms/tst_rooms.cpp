#include <list>
#include <memory>
#include <set>

#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QTextEdit>
#include <QTreeWidget>
#include <QtTest>

#include "ActionSetToolBar.h"
#include "ChatLogForm.h"
#include "ChatText.h"
#include "CreateRoomDialog.h"
#include "Data.h"
#include "FakeCentralServer.h"
#include "MainWindowRun.h"
#include "RoomForm.h"
#include "RoomViews.h"
#include "RoomsForm.h"
#include "Server.h"
#include "ServerTypes.h"
#include "TabFocus.h"
#include "UserStats.h"
#include "ui_ChatLogForm.h"
#include "ui_CreateRoomDialog.h"
#include "ui_RoomForm.h"
#include "ui_RoomsForm.h"

namespace {
using ServerBytes::Fields;
using ServerBytes::Message;
using Names = std::list<QString>;
using Numbers = std::list<qint32>;

const QString timePattern = "\\[[A-Z][a-z]{2} \\d{1,2} \\d{1,2}:\\d\\d:\\d\\d [ap]m\\]";

QByteArray StatsFields(qint32 speed, qint32 files)
{
    UserStats stats;
    stats.m_averageSpeed = speed;
    stats.m_sharedFileCount = files;
    return Fields(stats);
}

QByteArray ReadLog(const QString& room)
{
    QFile file(ChatText::LogPath(ChatText::LogKind::Room, room));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

class RoomsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<MainWindowRun> run;

    QTabWidget* Tabs() { return RoomViews::Rooms()->Form()->roomsTabControl; }

    RoomForm* Page(const QString& room)
    {
        for (int index = 0; index < Tabs()->count(); ++index)
            if (auto* page = qobject_cast<RoomForm*>(Tabs()->widget(index)))
                if (page->Room() == room)
                    return page;
        return nullptr;
    }

    // The server's join reply: users with speed, files and country; an owner and operators
    // make it a private room.
    static QByteArray JoinMessage(const QString& room, const Names& users, const QByteArray& stats,
                                  const QByteArray& tail = QByteArray())
    {
        Names countries;
        for (size_t index = 0; index < users.size(); ++index)
            countries.push_back("");
        return Message(14, Fields(room, users, Numbers{}, qint32(users.size())) + stats +
                               Fields(Numbers{}, countries) + tail);
    }

    void Join(const QString& room, const Names& users, const QByteArray& stats,
              const QByteArray& tail = QByteArray())
    {
        run->Server().SendRaw(JoinMessage(room, users, stats, tail));
    }

    QList<RoomForm*> Pages(const QString& room)
    {
        QList<RoomForm*> pages;
        for (int index = 0; index < Tabs()->count(); ++index)
            if (auto* page = qobject_cast<RoomForm*>(Tabs()->widget(index)))
                if (page->Room() == room)
                    pages << page;
        return pages;
    }

    ChatLogForm* LogViewer(const QString& room)
    {
        for (int index = 0; index < Tabs()->count(); ++index)
            if (auto* viewer = qobject_cast<ChatLogForm*>(Tabs()->widget(index)))
                if (Tabs()->tabText(index) == room)
                    return viewer;
        return nullptr;
    }

    void OpenLogViewer(const QString& room)
    {
        FocusWidgetAndParents(Page(room)->Form()->chatEdit);
        QTRY_COMPARE(actionBar->GetKey("room"), room);
        emit actionBar->ActionTriggered(nullptr, "room_chat_log");
    }

    QString Shown(const QString& room) { return Page(room)->Form()->chatView->toPlainText(); }

private slots:
    void initTestCase()
    {
        RoomViews::Install();
        run = std::make_unique<MainWindowRun>();
        run->Start();
        QVERIFY(run->WaitLoggedIn());
    }

    void cleanupTestCase() { run.reset(); }

    void joinShowsMembersChatsAndLogs()
    {
        Join("lobby", Names{"ann"}, StatsFields(1536, 12345));
        QTRY_VERIFY(Page("lobby"));
        QTreeWidget* list = Page("lobby")->Form()->userList;
        QTRY_COMPARE(list->topLevelItemCount(), 1);
        QCOMPARE(list->topLevelItem(0)->text(RoomForm::filesColumn), QString("12,345"));
        QCOMPARE(list->topLevelItem(0)->text(RoomForm::speedColumn), QString("1.5"));

        run->Server().Send(13, QString("lobby"), QString("ann"), QString("  hello <b>&  "));
        run->Server().Send(13, QString("elsewhere"), QString("ann"), QString("not here"));
        QTRY_VERIFY(Shown("lobby").contains("[ann] hello <b>&"));
        QVERIFY(!Shown("lobby").contains("not here"));
        QVERIFY(QRegularExpression("^" + timePattern + "\\[ann\\] hello <b>&\\n$")
                    .match(QString::fromUtf8(ReadLog("lobby")))
                    .hasMatch());

        run->Server().ClearMessages();
        const QString before = Shown("lobby");
        QLineEdit* edit = Page("lobby")->Form()->chatEdit;
        edit->setText("hi");
        QTest::keyClick(edit, Qt::Key_Return);
        QVERIFY(run->Server().WaitForCode(13));
        QCOMPARE(run->Server().MessagesWithCode(13).first().fields,
                 Fields(QString("lobby"), QString("hi")));
        QCOMPARE(Shown("lobby"), before);
    }

    void actionLinesAndTheCap_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("logged");
        QTest::newRow("action") << "/me waves"
                                << "* ann waves"
                                << " \\* ann waves";
        QTest::newRow("no blank") << "/mewaves"
                                  << "[ann] /mewaves"
                                  << "\\[ann\\] /mewaves";
        QTest::newRow("nothing after") << "/me "
                                       << "[ann] /me"
                                       << "\\[ann\\] /me";
        QTest::newRow("line breaks") << "a\nfake"
                                     << "[ann] a fake"
                                     << "\\[ann\\] a fake";
    }

    void actionLinesAndTheCap()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QFETCH(QString, logged);
        QFile::remove(ChatText::LogPath(ChatText::LogKind::Room, "lobby"));
        run->Server().Send(13, QString("lobby"), QString("ann"), text);
        QTRY_VERIFY(!ReadLog("lobby").isEmpty());
        QVERIFY(Shown("lobby").endsWith(shown));
        QVERIFY(QRegularExpression("^" + timePattern + logged + "\\n$")
                    .match(QString::fromUtf8(ReadLog("lobby")))
                    .hasMatch());
    }

    void viewDropsItsOldestLinesPastTheCap()
    {
        const QString big(2000, 'x');
        for (int line = 0; line < 160; ++line)
            run->Server().Send(13, QString("lobby"), QString("ann"),
                               QString("L%1 ").arg(line) + big);
        QTRY_VERIFY(Shown("lobby").contains("L159 "));
        QVERIFY(!Shown("lobby").contains("L0 "));
        QVERIFY(Page("lobby")->Form()->chatView->toPlainText().size() <= RoomForm::chatCap);
    }

    // Action lines show as status lines; a flood of them must not grow the view either.
    void actionLineFloodStaysUnderTheCap()
    {
        const QString big(1000, 'x');
        QByteArray burst;
        for (int line = 0; line < 400; ++line)
            burst += Message(
                13, Fields(QString("lobby"), QString("ann"), QString("/me A%1 ").arg(line) + big));
        run->Server().SendRaw(burst);
        QTRY_VERIFY_WITH_TIMEOUT(Shown("lobby").contains("* ann A399 "), 30000);
        QVERIFY(!Shown("lobby").contains("* ann A0 "));
        QVERIFY(Page("lobby")->Form()->chatView->toHtml().size() <= RoomForm::chatCap);
    }

    // Each message also carries separators that would start forged lines in a text view.
    void separatorFloodStaysUnderTheCapAndOneLinePerMessage()
    {
        constexpr int messages = 5000;
        QString forged;
        for (int separator = 0; separator < 20; ++separator)
            forged += QChar(separator % 2 ? 0x2028 : 0x2029) + QString("[Jan 1 1:00:00 am][eve] f");
        Join("flood", Names{"ann"}, StatsFields(0, 1));
        QTRY_VERIFY(Page("flood"));
        QFile::remove(ChatText::LogPath(ChatText::LogKind::Room, "flood"));
        OpenLogViewer("flood");
        QTRY_VERIFY(LogViewer("flood"));
        // Live lines reach the viewer while it is hidden, as when the user reads the chat.
        FocusWidgetAndParents(Page("flood")->Form()->chatEdit);
        QByteArray burst;
        for (int message = 0; message < messages; ++message)
            burst += Message(13, Fields(QString("flood"), QString("ann"),
                                        QString("m%1 ").arg(message) + forged));
        run->Server().SendRaw(burst);
        QTRY_VERIFY_WITH_TIMEOUT(Shown("flood").contains(QString("m%1 ").arg(messages - 1)),
                                 120000);

        QTextBrowser* view = Page("flood")->Form()->chatView;
        QVERIFY(view->toHtml().size() <= RoomForm::chatCap);
        QVERIFY(!Shown("flood").contains("m0 "));
        const QStringList shownLines = Shown("flood").split('\n');
        QCOMPARE(shownLines.filter(QRegularExpression("^(\\[ann\\] m\\d+ |\\* )")).size(),
                 shownLines.size());

        const QString logged = QString::fromUtf8(ReadLog("flood"));
        const QStringList lines = logged.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), messages);
        const QRegularExpression ownLine("^" + timePattern + "\\[ann\\] m\\d+  \\[Jan");
        QCOMPARE(lines.filter(ownLine).size(), messages);
        const QString live = LogViewer("flood")->Form()->logEdit->toPlainText();
        QCOMPARE(live, lines.join('\n'));
        ChatLogForm reloaded(ChatText::LogPath(ChatText::LogKind::Room, "flood"));
        QCOMPARE(reloaded.Form()->logEdit->toPlainText(), live);
        QCOMPARE(reloaded.Form()->logEdit->document()->blockCount(), messages);
    }

    // The leave is read first: its page goes, and the join must open a page of its own.
    void leaveAndJoinInOneReadLeaveOneTab()
    {
        Join("burst", Names{"ann"}, StatsFields(0, 1));
        QTRY_VERIFY(Page("burst"));
        QPointer<RoomForm> leaving = Page("burst");
        run->Server().ClearMessages();
        run->Server().SendRaw(
            Message(15, Fields(QString("burst"))) +
            JoinMessage("burst", Names{"ann", "bob"}, StatsFields(0, 1) + StatsFields(0, 2)));
        QTRY_VERIFY(leaving.isNull());
        QCOMPARE(Pages("burst").size(), 1);
        QTRY_COMPARE(Page("burst")->Form()->userList->topLevelItemCount(), 2);

        run->Server().Send(15, QString("burst"));
        QTRY_VERIFY(Pages("burst").isEmpty());
        QCOMPARE(run->Server().MessagesWithCode(15).size(), 0);
    }

    void membersSortByRoleAndShowRoleFonts()
    {
        Join("den", Names{"zed", "Bob", "amy", "cat"},
             StatsFields(0, 1) + StatsFields(0, 3) + StatsFields(0, 2) + StatsFields(0, 4),
             Fields(QString("zed"), std::set<QString>{"Bob"}));
        QTRY_VERIFY(Page("den"));
        QTreeWidget* list = Page("den")->Form()->userList;
        QTRY_COMPARE(list->topLevelItemCount(), 4);
        QStringList names, fonts;
        for (int row = 0; row < 4; ++row)
        {
            const QTreeWidgetItem* item = list->topLevelItem(row);
            names << item->text(RoomForm::nameColumn);
            const QFont font = item->font(RoomForm::nameColumn);
            fonts << QString(font.bold() ? "b" : "") + (font.underline() ? "u" : "");
        }
        QCOMPARE(names.join(' '), QString("amy Bob cat zed"));
        QCOMPARE(fonts.join(' '), QString(" b  bu"));
        list->sortByColumn(RoomForm::filesColumn, Qt::AscendingOrder);
        QCOMPARE(list->topLevelItem(0)->text(RoomForm::nameColumn), QString("cat"));
    }

    void closingLeavesAndServerLeaveClosesQuietly()
    {
        run->Server().ClearMessages();
        const int before = Tabs()->count();
        emit Tabs()->tabCloseRequested(Tabs()->indexOf(Page("den")));
        QVERIFY(run->Server().WaitForCode(15));
        QCOMPARE(run->Server().MessagesWithCode(15).first().fields, Fields(QString("den")));
        QCOMPARE(Tabs()->count(), before - 1);

        Join("quiet", Names{}, QByteArray());
        QTRY_VERIFY(Page("quiet"));
        run->Server().ClearMessages();
        run->Server().Send(15, QString("quiet"));
        QTRY_VERIFY(!Page("quiet"));
        QTest::qWait(50);
        QCOMPARE(run->Server().MessagesWithCode(15).size(), 0);
    }

    void reconnectJoinsOpenRoomsAgain()
    {
        run->Server().CloseClient();
        QTRY_VERIFY(!gp_server->IsConnected());
        run->Server().ClearMessages();
        gp_server->AttemptReconnect();
        QVERIFY(run->WaitLoggedIn());
        QTRY_VERIFY(!run->Server().MessagesWithCode(14).isEmpty());
        QCOMPARE(run->Server().MessagesWithCode(14).first().fields,
                 Fields(QString("lobby"), qint32(0)));
        QVERIFY(Shown("lobby").contains("Reconnected at"));
    }

    void createRoomDialogSendsTrimmedNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("isPrivate");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("blank") << "   " << false << QByteArray();
        QTest::newRow("public") << " chat " << false << Fields(QString("chat"), qint32(0));
        QTest::newRow("private") << "club" << true << Fields(QString("club"), qint32(1));
    }

    void createRoomDialogSendsTrimmedNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, isPrivate);
        QFETCH(QByteArray, sent);
        emit actionBar->ActionTriggered(nullptr, "create_room");
        QVERIFY(createRoomDialog);
        createRoomDialog->Form()->roomNameEdit->setText(name);
        createRoomDialog->Form()->createPrivateCheckBox->setChecked(isPrivate);
        run->Server().ClearMessages();
        createRoomDialog->Form()->createRoomButton->click();
        if (sent.isEmpty())
        {
            QTest::qWait(50);
            QCOMPARE(run->Server().MessagesWithCode(14).size(), 0);
            QVERIFY(createRoomDialog && createRoomDialog->isVisible());
            return;
        }
        QVERIFY(run->Server().WaitForCode(14));
        QCOMPARE(run->Server().MessagesWithCode(14).first().fields, sent);
        QVERIFY(!createRoomDialog);
    }

    void givingUpARoomAsksTwice()
    {
        ItemPtr(d.GetType(ServerTypes::room)->GetItem(Value("mine"))).NewItem(ServerTypes::isOwner);
        Join("mine", Names{}, QByteArray());
        QTRY_VERIFY(Page("mine"));
        FocusWidgetAndParents(Page("mine")->Form()->chatEdit);
        QTRY_COMPARE(actionBar->GetKey("room"), QString("mine"));
        run->boxes.clear();
        run->boxAnswer = QMessageBox::Yes;
        run->Server().ClearMessages();
        emit actionBar->ActionTriggered(nullptr, "give_up_ownership");
        run->boxAnswer = 0;
        QCOMPARE(run->boxes.size(), 2);
        QVERIFY(run->Server().WaitForCode(137));
        QCOMPARE(run->Server().MessagesWithCode(137).first().fields, Fields(QString("mine")));
    }

    void hostileRoomNamesStayInTheLogFolder_data()
    {
        QTest::addColumn<QString>("room");
        QTest::addColumn<QString>("file");
        QTest::newRow("climbs") << "../../x"
                                << ".._.._x.log";
        QTest::newRow("parent") << ".."
                                << "_...log";
        QTest::newRow("backslash") << "a\\b"
                                   << "a_b.log";
        QTest::newRow("empty") << ""
                               << "_.log";
    }

    void hostileRoomNamesStayInTheLogFolder()
    {
        QFETCH(QString, room);
        QFETCH(QString, file);
        QCOMPARE(ChatText::LogPath(ChatText::LogKind::Room, room),
                 run->Home() + "/Vandrell Chat Logs/Rooms/" + file);
    }
};

QTEST_MAIN(RoomsTest)
#include "tst_rooms.moc"
