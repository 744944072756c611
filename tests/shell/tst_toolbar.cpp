#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrlQuery>
#include <QVBoxLayout>
#include <QtTest>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"

namespace {
// Registered: panels for files (a tree of two rows) and chat (a line edit inside), and a second
// chat widget. The rest is unregistered.
struct Window
{
    Server server;
    QWidget top;
    QVBoxLayout* layout = new QVBoxLayout(&top);
    ActionSetToolBar* bar = new ActionSetToolBar(&top);
    QWidget* files = new QWidget;
    QTreeWidget* tree = new QTreeWidget(files);
    QWidget* chat = new QWidget;
    QLineEdit* chatEdit = new QLineEdit(chat);
    QLineEdit* chat2 = new QLineEdit;
    QLineEdit* other = new QLineEdit;
    QStringList emitted; // each ActionTriggered as "widget key", the widget by its object name

    Window()
    {
        for (QWidget* widget : QList<QWidget*>{bar, files, chat, chat2, other})
            layout->addWidget(widget);
        files->setObjectName("files");
        chat->setObjectName("chat");
        tree->addTopLevelItem(new QTreeWidgetItem(QStringList{"a.mp3", "alice"}));
        tree->addTopLevelItem(new QTreeWidgetItem(QStringList{"b.mp3", "bob"}));
        bar->AddSetAction("files", "download", "Download", ":/icons/download_icon", true);
        bar->AddSetAction("chat", "chat_log", "Chat Log", "", false);
        bar->AddSetAction("files", "browse", "Browse", "", false);
        bar->RegisterWidget(files, "files");
        bar->RegisterWidget(chat, "chat");
        bar->RegisterWidget(chat2, "chat");
        QObject::connect(bar, &ActionSetToolBar::ActionTriggered,
                         [this](QWidget* widget, const QString& key) {
                             emitted << widget->objectName() + " " + key;
                         });
        bar->Init();
        top.show();
        QApplication::setActiveWindow(&top);
    }

    // The commands the bar offers now, left to right.
    QStringList Offered() const
    {
        QStringList texts;
        for (QAction* action : bar->actions())
            if (action->isVisible() && !action->text().isEmpty()) // the buttons have none
                texts << action->text();
        return texts;
    }

    void Trigger(const QString& text) const
    {
        for (QAction* action : bar->actions())
            if (action->text() == text)
                action->trigger();
    }
};
} // namespace

class ShellToolbarTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Settings::DeclareTypes(d); }

    void init() { d.RemoveAllItems(); }

    void showsTheFocusedWidgetsOwnSet()
    {
        Settings::Set(ServerSettings::availabilityStatus, "available");
        Window w;
        w.bar->SetWidgetActionHidden(w.chat2, "chat_log", true);
        w.bar->SetWidgetActionText(w.chat, "chat_log", "Log of bob");
        w.chatEdit->setFocus();
        QTRY_COMPARE(w.Offered(), QStringList{"Log of bob"});
        w.Trigger("Log of bob");
        w.tree->setFocus();
        QTRY_COMPARE(w.Offered(), (QStringList{"Download", "Browse"}));
        w.Trigger("Browse");
        QCOMPARE(w.emitted, (QStringList{"chat chat_log", "files browse"}));

        w.chat2->setFocus();
        QTRY_COMPARE(w.Offered(), QStringList());
        w.bar->SetWidgetActionHidden(w.chat2, "chat_log", false);
        QCOMPARE(w.Offered(), QStringList{"Chat Log"});
        w.bar->SetWidgetActionText(w.chat2, "chat_log", "Log of eve");
        QCOMPARE(w.Offered(), QStringList{"Log of eve"});

        // Unregistered: only the status and supporter buttons, which work while disconnected.
        w.other->setFocus();
        QTRY_COMPARE(w.Offered(), QStringList());
        const qint64 icon = QApplication::windowIcon().cacheKey();
        w.bar->findChild<QPushButton*>("statusButton")->click();
        QCOMPARE(w.bar->findChild<QPushButton*>("statusButton")->text(), QString("Away"));
        QCOMPARE(QApplication::windowIcon().cacheKey(), icon);
        Settings::Set(ServerSettings::privilegesTimeLeft, Value(3 * 86400));
        emit w.server.ReceivedOwnPrivilegesStatus(0);
        QCOMPARE(w.bar->findChild<QPushButton*>("supportButton")->text(), QString("3 Days Left"));

        // A destroyed owner leaves nothing behind for a widget made later at its address.
        w.chatEdit->setFocus();
        QTRY_COMPARE(w.Offered(), QStringList{"Log of bob"});
        const Value address(w.chat);
        delete w.chat;
        QCOMPARE(w.Offered(), QStringList());
        QVERIFY(!d.GetType("toolbar_action_widget")->HasItem(address));
        // The tree may go before its registered panel; a click then has no selection.
        w.tree->setFocus();
        QTRY_COMPARE(w.Offered(), (QStringList{"Download", "Browse"}));
        delete w.tree;
        w.Trigger("Browse");
        QCOMPARE(w.emitted.last(), QString("files browse"));
    }

    void selectionGatesCommandsAndFeedsColumnKeys()
    {
        Window w;
        w.bar->AddWidgetKey(w.files, "view", "files");
        w.bar->AddWidgetKey(w.files, "size", "stale");
        w.bar->AddWidgetColumnKey(w.files, "user", 1);
        w.bar->AddWidgetColumnKey(w.files, "size", 7);
        // Activating the window may have focused the tree before its keys existed.
        w.other->setFocus();
        w.tree->setFocus();
        QTRY_COMPARE(w.Offered(), (QStringList{"Download", "Browse"}));
        QCOMPARE(w.bar->GetKey("view") + " " + w.bar->GetKey("size"), QString("files stale"));

        w.Trigger("Download");
        w.Trigger("Browse");
        QCOMPARE(w.emitted, QStringList{"files browse"});
        w.tree->topLevelItem(1)->setSelected(true);
        w.Trigger("Download");
        QCOMPARE(w.emitted, (QStringList{"files browse", "files download"}));
        QCOMPARE(w.bar->GetKey("user") + "|" + w.bar->GetKey("size"), QString("bob|"));
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
