#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTreeWidget>
#include <QUrlQuery>
#include <QVBoxLayout>
#include <QWidgetAction>
#include <QtTest>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "ShellGlobals.h"

namespace {
// The commands the bar offers now, left to right.
QStringList Offered(const ActionSetToolBar& bar)
{
    QStringList texts;
    for (QAction* action : bar.actions())
        if (!qobject_cast<QWidgetAction*>(action) && action->isVisible() &&
            !action->text().isEmpty())
            texts << action->text();
    return texts;
}

QAction* Command(const ActionSetToolBar& bar, const QString& text)
{
    for (QAction* action : bar.actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

// A file tree with two rows and a chat panel with a line edit inside, both registered, and an
// unregistered line edit.
struct Window
{
    QWidget top;
    QVBoxLayout* layout = new QVBoxLayout(&top);
    ActionSetToolBar* bar = new ActionSetToolBar(&top);
    QTreeWidget* tree = new QTreeWidget;
    QWidget* chat = new QWidget;
    QLineEdit* chatEdit = new QLineEdit(chat);
    QLineEdit* other = new QLineEdit;

    Window()
    {
        for (QWidget* widget : QList<QWidget*>{bar, tree, chat, other})
            layout->addWidget(widget);
        tree->setColumnCount(2);
        tree->addTopLevelItem(new QTreeWidgetItem(QStringList{"a.mp3", "alice"}));
        tree->addTopLevelItem(new QTreeWidgetItem(QStringList{"b.mp3", "bob"}));
        bar->AddSetAction("files", "download", "Download", ":/icons/download_icon", true);
        bar->AddSetAction("chat", "chat_log", "Chat Log", "", false);
        bar->AddSetAction("files", "browse", "Browse", "", false);
        bar->RegisterWidget(tree, "files");
        bar->RegisterWidget(chat, "chat");
        bar->Init();
        top.show();
        QApplication::setActiveWindow(&top);
    }
};
} // namespace

class ShellToolbarTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Settings::DeclareTypes(d); }

    void init()
    {
        d.RemoveAllItems();
        g_showIsOver = false;
        Settings::Set(ServerSettings::availabilityStatus, "available");
    }

    void showsTheSetOfTheFocusedWidget()
    {
        Window w;
        QSignalSpy triggered(w.bar, &ActionSetToolBar::ActionTriggered);
        w.chatEdit->setFocus();
        QTRY_COMPARE(Offered(*w.bar), QStringList{"Chat Log"});
        Command(*w.bar, "Chat Log")->trigger();
        QCOMPARE(triggered.count(), 1);
        QCOMPARE(triggered[0][0].value<QWidget*>(), w.chat);
        QCOMPARE(triggered[0][1].toString(), QString("chat_log"));

        w.tree->setFocus();
        QTRY_COMPARE(Offered(*w.bar), (QStringList{"Download", "Browse"}));

        w.other->setFocus();
        QTRY_COMPARE(Offered(*w.bar), QStringList());
        QCOMPARE(w.bar->findChildren<QPushButton*>("statusButton").size(), 1);
        QCOMPARE(w.bar->findChildren<QPushButton*>("supportButton").size(), 1);

        // A tab bar stands for the current page, through nested tab widgets.
        auto* outer = new QTabWidget;
        auto* inner = new QTabWidget;
        auto* page = new QWidget;
        w.layout->addWidget(outer);
        outer->addTab(inner, "inner");
        inner->addTab(page, "page");
        w.bar->RegisterWidget(page, "chat");
        outer->tabBar()->setFocus();
        QTRY_COMPARE(Offered(*w.bar), QStringList{"Chat Log"});
        Command(*w.bar, "Chat Log")->trigger();
        QCOMPARE(triggered.last()[0].value<QWidget*>(), page);
    }

    void selectionGatesCommandsAndFeedsColumnKeys()
    {
        Window w;
        w.bar->AddWidgetKey(w.tree, "view", "files");
        w.bar->AddWidgetKey(w.tree, "size", "stale");
        w.bar->AddWidgetColumnKey(w.tree, "user", 1);
        w.bar->AddWidgetColumnKey(w.tree, "size", 7);
        QSignalSpy triggered(w.bar, &ActionSetToolBar::ActionTriggered);
        // Activating the window may have focused the tree before its keys existed.
        w.other->setFocus();
        QTRY_COMPARE(Offered(*w.bar), QStringList());
        w.tree->setFocus();
        QTRY_COMPARE(Offered(*w.bar), (QStringList{"Download", "Browse"}));
        QCOMPARE(w.bar->GetKey("view"), QString("files"));
        QCOMPARE(w.bar->GetKey("size"), QString("stale"));

        Command(*w.bar, "Download")->trigger();
        QCOMPARE(triggered.count(), 0);
        Command(*w.bar, "Browse")->trigger();
        QCOMPARE(triggered.count(), 1);
        QCOMPARE(triggered[0][1].toString(), QString("browse"));
        QCOMPARE(w.bar->GetKey("user"), QString());

        w.tree->topLevelItem(1)->setSelected(true);
        Command(*w.bar, "Download")->trigger();
        QCOMPARE(triggered.count(), 2);
        QCOMPARE(triggered[1][0].value<QWidget*>(), w.tree);
        QCOMPARE(triggered[1][1].toString(), QString("download"));
        QCOMPARE(w.bar->GetKey("user"), QString("bob"));
        QCOMPARE(w.bar->GetKey("size"), QString());
    }

    void textAndHidingBelongToEachWidget()
    {
        Window w;
        auto* chat2 = new QLineEdit;
        w.layout->addWidget(chat2);
        w.bar->RegisterWidget(chat2, "chat");
        w.bar->SetWidgetActionText(w.chat, "chat_log", "Log of bob");
        w.bar->SetWidgetActionHidden(chat2, "chat_log", true);
        w.chatEdit->setFocus();
        QTRY_COMPARE(Offered(*w.bar), QStringList{"Log of bob"});
        w.bar->SetWidgetActionText(w.chat, "chat_log", "Log of eve");
        QCOMPARE(Offered(*w.bar), QStringList{"Log of eve"});

        chat2->setFocus();
        QTRY_COMPARE(Offered(*w.bar), QStringList());
        QVERIFY(Command(*w.bar, "Chat Log"));
        w.bar->SetWidgetActionHidden(chat2, "chat_log", false);
        QCOMPARE(Offered(*w.bar), QStringList{"Chat Log"});

        // Unknown widgets and ids store nothing; at shutdown text changes are ignored.
        w.bar->SetWidgetActionText(w.other, "chat_log", "x");
        w.bar->SetWidgetActionText(chat2, "no_such_id", "x");
        w.bar->SetWidgetActionHidden(w.other, "chat_log", true);
        QVERIFY(!d.GetType("widget_action_text")->HasItem("x"));
        QCOMPARE(d.GetType("widget_action_hidden")->ItemCount(), size_t(0));
        g_showIsOver = true;
        w.bar->SetWidgetActionText(chat2, "chat_log", "late");
        QCOMPARE(Offered(*w.bar), QStringList{"Chat Log"});
    }

    void destroyedOwnerClearsTheBar()
    {
        Window w;
        QSignalSpy triggered(w.bar, &ActionSetToolBar::ActionTriggered);
        w.chatEdit->setFocus();
        QTRY_COMPARE(Offered(*w.bar), QStringList{"Chat Log"});
        const Value address(w.chat);
        delete w.chat;
        QCOMPARE(Offered(*w.bar), QStringList());
        QCOMPARE(w.bar->findChildren<QPushButton*>("statusButton").size(), 1);
        // A widget made later at the same address must not inherit the registration.
        QVERIFY(!d.GetType("toolbar_action_widget")->HasItem(address));

        // A tree inside a registered widget may go on its own; a click then has no selection.
        auto* panel = new QWidget;
        auto* tree = new QTreeWidget(panel);
        w.layout->addWidget(panel);
        w.bar->RegisterWidget(panel, "files");
        tree->setFocus();
        QTRY_COMPARE(Offered(*w.bar), (QStringList{"Download", "Browse"}));
        delete tree;
        Command(*w.bar, "Browse")->trigger();
        QCOMPARE(triggered.count(), 1);
        QCOMPARE(triggered[0][0].value<QWidget*>(), panel);

        g_showIsOver = true;
        delete panel;
        w.other->setFocus();
        QCOMPARE(Offered(*w.bar), (QStringList{"Download", "Browse"}));
    }

    void statusButtonWorksWhileDisconnected()
    {
        Server server;
        Window w;
        w.other->setFocus();
        QPushButton* status = nullptr;
        QTRY_VERIFY((status = w.bar->findChild<QPushButton*>("statusButton")));
        QCOMPARE(status->text(), QString("Available"));
        const qint64 icon = QApplication::windowIcon().cacheKey();
        status->click();
        QCOMPARE(Settings::GetText(ServerSettings::availabilityStatus), QString("away"));
        QCOMPARE(status->text(), QString("Away"));
        QCOMPARE(QApplication::windowIcon().cacheKey(), icon);
        status->click();
        QCOMPARE(Settings::GetText(ServerSettings::availabilityStatus), QString("available"));
        QCOMPARE(status->text(), QString("Available"));

        // The supporter button follows the server's privilege reports once the bar is set up.
        Settings::Set(ServerSettings::privilegesTimeLeft, Value(3 * 86400));
        emit server.ReceivedOwnPrivilegesStatus(0);
        QCOMPARE(w.bar->findChild<QPushButton*>("supportButton")->text(), QString("3 Days Left"));
    }

    void supporterButtonCountsDays_data()
    {
        QTest::addColumn<QString>("supporter");
        QTest::addColumn<int>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("just under half a day") << "yes" << 43199 << "0 Days Left";
        QTest::newRow("half a day") << "yes" << 43200 << "1 Days Left";
        QTest::newRow("a day and a half") << "no" << 129600 << "2 Days Left";
        QTest::newRow("not a supporter") << "no" << 0 << "Support Vandrell!";
        QTest::newRow("supporter out of time") << "yes" << -5 << "";
    }

    void supporterButtonCountsDays()
    {
        QFETCH(QString, supporter);
        QFETCH(int, seconds);
        QFETCH(QString, text);
        Settings::Set(ServerSettings::isSupporter, supporter);
        Settings::Set(ServerSettings::privilegesTimeLeft, Value(seconds));
        ActionSetToolBar bar;
        auto* button = bar.findChild<QPushButton*>("supportButton");
        QCOMPARE(button->text(), text);
        QCOMPARE(button->toolTip().isEmpty(), supporter != "yes");
    }

    void supporterPageKeepsTheNameInItsQuery()
    {
        const QUrl page = ActionSetToolBar::SupporterPage("a&b=c #d");
        QCOMPARE(page.host(), QString("www.vandrell.net"));
        QCOMPARE(page.path(), QString("/qtlogin.php"));
        QCOMPARE(QUrlQuery(page).queryItems(QUrl::FullyDecoded).size(), 1);
        QCOMPARE(QUrlQuery(page).queryItemValue("username", QUrl::FullyDecoded),
                 QString("a&b=c #d"));
    }
};

QTEST_MAIN(ShellToolbarTest)
#include "tst_toolbar.moc"
