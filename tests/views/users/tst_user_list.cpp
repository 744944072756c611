#include <memory>

#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTextEdit>
#include <QTreeWidget>
#include <QtTest>

#include "AddUserDialog.h"
#include "Data.h"
#include "EventToolBar.h"
#include "MainWindowRun.h"
#include "PeerTypes.h"
#include "RoomViews.h"
#include "Server.h"
#include "ServerTypes.h"
#include "UserGroupConfigDialog.h"
#include "UserGroupsDialog.h"
#include "UserListForm.h"
#include "UserMenuOptions.h"
#include "UserNoteDialog.h"
#include "UserViews.h"
#include "WindowTypes.h"
#include "ui_AddUserDialog.h"
#include "ui_UserGroupConfigDialog.h"
#include "ui_UserGroupsDialog.h"
#include "ui_UserListForm.h"
#include "ui_UserNoteDialog.h"

using namespace ServerTypes;

namespace {
ItemPtr User(const QString& name)
{
    return d.GetType(user)->GetItem(Value(name));
}

// Listed and online are items of their own; the other marks are the type's shared item.
void SetMark(const QString& name, const char* type, bool on)
{
    const bool own = qstrcmp(type, inUserList) == 0 || qstrcmp(type, isOnline) == 0;
    if (!on)
        User(name).Disconnect(type);
    else if (!own)
        User(name).Connect(d.GetType(type)->GetGlobalNullItem());
    else if (!User(name).IsConnected(type))
        User(name).NewItem(type);
}

void List(const QString& name)
{
    SetMark(name, inUserList, true);
}

QStringList Column(QTreeWidget* tree, int column)
{
    QStringList texts;
    for (int row = 0; row < tree->topLevelItemCount(); ++row)
        texts << tree->topLevelItem(row)->text(column);
    return texts;
}

QTreeWidgetItem* Row(QTreeWidget* tree, const QString& name)
{
    const auto rows = tree->findItems(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    return rows.isEmpty() ? nullptr : rows.first();
}

bool IconIs(const QIcon& icon, const char* path)
{
    return icon.pixmap(16).toImage() == QIcon(path).pixmap(16).toImage();
}

QStringList NamesAsked(FakeCentralServer& server)
{
    QStringList names;
    for (const ServerMessage& message : server.MessagesWithCode(5))
    {
        QString name;
        message.Fields().Read(name);
        names << name;
    }
    return names;
}

QStringList MenuTexts(const QString& name, bool withOwnEntry = false)
{
    QMenu menu;
    if (withOwnEntry)
        menu.addAction("own");
    UserMenuOptions options(&menu, name);
    QStringList texts;
    for (QAction* action : menu.actions())
        texts << (action->isSeparator() ? QString("|") : action->text());
    return texts;
}
} // namespace

class UserListTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<MainWindowRun> run;
    QStringList popups;

    Ui_UserListForm* Ui() { return userListForm->Form(); }

private slots:
    void initTestCase()
    {
        RoomViews::Install();
        UserViews::Install();
        run = std::make_unique<MainWindowRun>();
        run->Start();
        QVERIFY(run->WaitLoggedIn());
        eventToolBar->SetWindowCalls(
            {[](const QString&) {}, [] {}, [this](const QString& text) { popups << text; }});
    }

    void cleanupTestCase() { run.reset(); }

    void sortsOnlineFirstThenByName_data()
    {
        QTest::addColumn<QStringList>("online");
        QTest::addColumn<QStringList>("order");
        QTest::newRow("all offline") << QStringList() << QStringList{"Alpha", "alpha", "beta"};
        QTest::newRow("alpha online")
            << QStringList{"alpha"} << QStringList{"alpha", "Alpha", "beta"};
    }

    void sortsOnlineFirstThenByName()
    {
        QFETCH(QStringList, online);
        for (const char* name : {"beta", "alpha", "Alpha"})
        {
            List(name);
            SetMark(name, isOnline, online.contains(name));
        }
        QTRY_VERIFY(!userListForm->IsSortPending());
        QTEST(Column(Ui()->userList, UserListForm::userColumn), "order");
        for (const char* name : {"beta", "alpha", "Alpha"})
            User(name).Disconnect(inUserList);
    }

    void numberCellsFollowTheStats_data()
    {
        QTest::addColumn<QList<int>>("speeds");
        QTest::addColumn<QString>("shown");
        // Each row ends with a report of speed 0: a later zero keeps the speed shown.
        QTest::newRow("2560 bytes a second") << QList<int>{2560} << "2.5";
        QTest::newRow("none reported") << QList<int>() << "";
    }

    void numberCellsFollowTheStats()
    {
        QFETCH(QList<int>, speeds);
        List("sam");
        for (int speed : speeds)
            run->Server().Send(36, QString("sam"), qint32(speed), qint64(0), qint32(12345),
                               qint32(0));
        run->Server().Send(36, QString("sam"), qint32(0), qint64(0), qint32(12345), qint32(0));
        QTreeWidgetItem* row = Row(Ui()->userList, "sam");
        QVERIFY(row);
        QTRY_COMPARE(row->text(UserListForm::filesColumn), QString("12,345"));
        QTEST(row->text(UserListForm::speedColumn), "shown");
        User("sam").Disconnect(inUserList);
        User("sam").Disconnect(averageDownloadSpeed);
        User("sam").Disconnect(sharedFileCount);
    }

    void groupsAndNotesShowInEveryTree()
    {
        List("gus");
        SetMark("gus", PeerTypes::unshared, true);
        SetMark("gus", isIgnored, true);
        ItemPtr listed = User("gus")[inUserList];
        for (const char* group : {"beta", "alpha", "Alpha"})
            listed.Connect(d.GetType(userListGroup)->GetItem(Value(group)));
        QCOMPARE(Row(Ui()->userList, "gus")->text(UserListForm::groupsColumn),
                 QString("Alpha, alpha, beta"));
        User("gus").Connect(d.GetType(WindowTypes::userNote)->GetItem(Value("pays late")));
        QCOMPARE(Row(Ui()->userList, "gus")->text(UserListForm::noteColumn), QString("pays late"));
        QCOMPARE(Row(Ui()->ignoredList, "gus")->text(1), QString("pays late"));
        User("gus").Disconnect(WindowTypes::userNote);
        QCOMPARE(Row(Ui()->ignoredList, "gus")->text(1), QString());
        QVERIFY(Row(Ui()->ignoredList, "gus")->icon(1).isNull());
        User("gus").Disconnect(inUserList);
    }

    void marksDriveRowsBothWays_data()
    {
        QTest::addColumn<QString>("mark");
        QTest::addColumn<QString>("tree");
        QTest::newRow("listed") << inUserList << "userList";
        QTest::newRow("unshared") << PeerTypes::unshared << "unsharedList";
        QTest::newRow("ignored") << isIgnored << "ignoredList";
        QTest::newRow("alerted") << UserListForm::onlineAlert << "onlineAlertList";
    }

    void marksDriveRowsBothWays()
    {
        QFETCH(QString, mark);
        QFETCH(QString, tree);
        auto* view = userListForm->findChild<QTreeWidget*>(tree);
        const QByteArray type = mark.toUtf8();
        SetMark("mo", type.constData(), true);
        QVERIFY(Row(view, "mo"));
        SetMark("mo", type.constData(), false);
        QVERIFY(!Row(view, "mo"));
    }

    void onlineAlertRaisesOneEventAndRowGoesBackOffline()
    {
        SetMark("ann", UserListForm::onlineAlert, true);
        popups.clear();
        SetMark("ann", isOnline, true);
        QCOMPARE(popups, QStringList{"ann is online"});
        // Not in the user list: the alert row still goes back offline.
        SetMark("ann", isOnline, false);
        QTreeWidgetItem* row = Row(Ui()->onlineAlertList, "ann");
        QVERIFY(IconIs(row->icon(0), ":/icons/offline_icon"));
        QCOMPARE(popups.size(), 1);
    }

    void menuTextsFollowTheMarks_data()
    {
        QTest::addColumn<bool>("marked");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("unknown user")
            << false
            << QString("Message user;Add user to list;Get User Info;Add user note;"
                       "Alert when user goes online;|;Unshare files from user;Ignore user")
                   .split(';');
        QTest::newRow("every mark")
            << true
            << QString("Message user;Set user's groups;Remove user from list;Get User Info;"
                       "Edit user note;Remove online status alert;|;Re-share files with user;"
                       "Unignore user")
                   .split(';');
    }

    void menuTextsFollowTheMarks()
    {
        QFETCH(bool, marked);
        const QString name = marked ? "menu_marked" : "menu_new";
        if (marked)
        {
            List(name);
            for (const char* mark : {PeerTypes::unshared, isIgnored, UserListForm::onlineAlert})
                SetMark(name, mark, true);
            User(name).Connect(d.GetType(WindowTypes::userNote)->GetItem(Value("n")));
        }
        QTEST(MenuTexts(name), "texts");
        QVERIFY(d.GetType(user)->HasItem(Value(name)) != nullptr);
        QCOMPARE(MenuTexts(name, true).mid(0, 3), (QStringList{"own", "|", "Message user"}));
    }

    void groupsWindowWritesMembershipAtOnce()
    {
        List("gina");
        UserGroupsDialog window("gina");
        window.Form()->newGroupEdit->setText("  friends ");
        window.Form()->newGroupButton->click();
        auto rows = window.Form()->groupListWidget->findItems("friends", Qt::MatchExactly);
        QCOMPARE(rows.size(), 1);
        rows.first()->setCheckState(Qt::Checked);
        ItemPtr friends = d.GetType(userListGroup)->HasItem(Value("friends"));
        QVERIFY(User("gina")[inUserList].IsConnected(friends));
        // Out of the list while the window is open: the tick is taken back.
        User("gina").Disconnect(inUserList);
        rows.first()->setCheckState(Qt::Unchecked);
        QCOMPARE(rows.first()->checkState(), Qt::Checked);
    }

    void configWindowWritesPriorityAndUploads()
    {
        List("pia");
        ItemPtr group = d.GetType(userListGroup)->GetItem(Value("band"));
        User("pia")[inUserList].Connect(group);
        UserGroupConfigDialog window;
        auto* ui = window.Form();
        QVERIFY(!ui->prioritySpinBox->isEnabled());
        ui->groupList->setCurrentItem(ui->groupList->findItems("band", Qt::MatchExactly).first());
        ui->prioritySpinBox->setValue(5);
        QCOMPARE(group[groupDownloadPriority].AsString(), QString("5"));
        ui->prioritySpinBox->setValue(0);
        QVERIFY(group[groupDownloadPriority].IsNull());
        ui->acceptUploadsCheckBox->setChecked(true);
        QVERIFY(group.IsConnected(acceptUploads));
        run->boxAnswer = QMessageBox::Yes;
        ui->deleteButton->click();
        run->boxAnswer = 0;
        QVERIFY(d.GetType(userListGroup)->HasItem(Value("band")) == nullptr);
        QVERIFY(Row(Ui()->userList, "pia"));
    }

    void noteDialogKeepsPlainText_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored");
        QTest::newRow("markup kept as typed") << QString("<b>hi</b> &amp;") << "<b>hi</b> &amp;";
        QTest::newRow("blanks trimmed") << QString("  ok  ") << "ok";
        QTest::newRow("blank removes the note") << QString("   ") << "";
    }

    void noteDialogKeepsPlainText()
    {
        QFETCH(QString, typed);
        User("nora").Connect(d.GetType(WindowTypes::userNote)->GetItem(Value("old")));
        UserNoteDialog* dialog = UserNoteDialog::GetDialog("nora");
        QCOMPARE(UserNoteDialog::GetDialog("nora"), dialog);
        dialog->Form()->noteEdit->setPlainText(typed);
        QPointer<UserNoteDialog> watched = dialog;
        dialog->Form()->saveButton->click();
        QTRY_VERIFY(watched.isNull());
        QTEST(User("nora")[WindowTypes::userNote].AsString(), "stored");
        QVERIFY(UserNoteDialog::GetDialog("nora") != nullptr);
        delete UserNoteDialog::GetDialog("nora");
    }

    // The server answers other requests too: only the answer for the exact name ends the wait.
    void addUserWaitsForItsOwnAnswer()
    {
        AddUserDialog dialog;
        Ui_AddUserDialog* ui = dialog.Form();
        ui->userNameEdit->setText("erin");
        ui->addFriendButton->click();
        QCOMPARE(ui->statusEdit->text(), QString("Adding user..."));
        QVERIFY(ui->userNameEdit->isReadOnly());
        QVERIFY(!ui->addFriendButton->isEnabled());

        run->Server().Send(5, QString("Erin"), quint8(1), qint32(2), qint32(0), qint64(0),
                           qint32(0), qint32(0), QString("DE"));
        run->Server().Send(5, QString("erin"), quint8(0));
        QTRY_COMPARE(ui->statusEdit->text(), QString("User name does not exist."));
        QVERIFY(!ui->userNameEdit->isReadOnly());
        QVERIFY(ui->addFriendButton->isEnabled());
        QCOMPARE(ui->userNameEdit->text(), QString("erin"));
        QVERIFY(!User("erin").IsConnected(inUserList));

        // A late answer after the wait ended changes nothing.
        QSignalSpy answers(gp_server, &Server::AddUserResponse);
        run->Server().Send(5, QString("erin"), quint8(1), qint32(2), qint32(0), qint64(0),
                           qint32(0), qint32(0), QString("DE"));
        QVERIFY(answers.wait(5000));
        QCOMPARE(ui->statusEdit->text(), QString("User name does not exist."));
        QVERIFY(!User("erin").IsConnected(inUserList));
    }

    // Runs last: it ends the server link.
    void addUserDialogAsksTheServer()
    {
        AddUserDialog dialog;
        const auto add = [&](const QString& name) {
            dialog.Form()->userNameEdit->setText(name);
            dialog.Form()->addFriendButton->click();
            return dialog.Form()->statusEdit->text();
        };
        run->Server().ClearMessages();
        QCOMPARE(add(" carol "), QString("Adding user..."));
        QTRY_VERIFY(NamesAsked(run->Server()).contains("carol"));
        run->Server().Send(5, QString("carol"), quint8(1), qint32(2), qint32(0), qint64(0),
                           qint32(0), qint32(0), QString("DE"));
        QTRY_COMPARE(dialog.Form()->statusEdit->text(), QString("User added to list."));
        QTreeWidgetItem* row = Row(Ui()->userList, "carol");
        QVERIFY(row && IconIs(row->icon(0), ":/icons/online_icon"));
        QVERIFY(run->Server().WaitForCode(36));
        QCOMPARE(add("carol"), QString("User already in list."));
        QCOMPARE(add("  "), QString("User name must not be empty."));
        add("nobody");
        run->Server().Send(5, QString("nobody"), quint8(0));
        QTRY_COMPARE(dialog.Form()->statusEdit->text(), QString("User name does not exist."));

        run->Server().CloseClient();
        QTRY_VERIFY(!gp_server->IsConnected());
        run->Server().ClearMessages();
        QCOMPARE(add("dave"), QString("Must be online to add a user to your list."));
        QVERIFY(run->Server().MessagesWithCode(5).isEmpty());
    }
};

QTEST_MAIN(UserListTest)
#include "tst_user_list.moc"
