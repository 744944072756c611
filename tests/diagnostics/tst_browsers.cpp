#include <cstdint>
#include <string>

#include <QComboBox>
#include <QListWidget>
#include <QPointer>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QtTest>

#include "Data.h"
#include "DataDialog.h"
#include "DiagnosticsForm.h"
#include "ItemLogDialog.h"
#include "TypeNavigatorDialog.h"

namespace {
QStringList Lines(const QTextBrowser* browser)
{
    const QString text = browser->toPlainText();
    return text.isEmpty() ? QStringList() : text.split('\n');
}

// The texts of a widget's rows, read by index.
template <class Read> QStringList Texts(int count, Read read)
{
    QStringList texts;
    for (int row = 0; row < count; ++row)
        texts << read(row);
    return texts;
}

QStringList PageTitles(const QTabWidget* tabs)
{
    return Texts(tabs->count(), [tabs](int page) { return tabs->tabText(page); });
}

QStringList PageLines(const QTabWidget* tabs, const QString& title)
{
    const int page = PageTitles(tabs).indexOf(title);
    return page < 0 ? QStringList{"no page " + title}
                    : Lines(qobject_cast<QTextBrowser*>(tabs->widget(page)));
}

QStringList Column(const QTreeWidget* tree, int column)
{
    return Texts(tree->topLevelItemCount(),
                 [=](int row) { return tree->topLevelItem(row)->text(column); });
}

QStringList ListTexts(const QListWidget* list)
{
    return Texts(list->count(), [list](int row) { return list->item(row)->text(); });
}

QStringList BoxTexts(const QComboBox* box)
{
    return Texts(box->count(), [box](int row) { return box->itemText(row); });
}

// Children come in the store's identity order, so they are compared as sorted lists.
QStringList Children(const QTreeWidgetItem* node)
{
    QStringList texts =
        Texts(node->childCount(), [node](int child) { return node->child(child)->text(0); });
    texts.sort();
    return texts;
}

QTreeWidgetItem* Child(QTreeWidgetItem* node, const QString& text)
{
    for (int child = 0; child < node->childCount(); ++child)
        if (node->child(child)->text(0) == text)
            return node->child(child);
    return nullptr;
}

// Whether the count in front of a chart line is set off in green bold.
bool GreenCount(const QTextBrowser* chart, int line)
{
    const QTextCharFormat format =
        chart->document()->findBlockByNumber(line).begin().fragment().charFormat();
    return format.foreground().color() == QColor("green") && format.fontWeight() == QFont::Bold;
}

void Close(QWidget* dialog)
{
    dialog->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Users with log records, typed as the diagnostics form declares them.
struct LogStore
{
    Data store;
    Type* user = store.NewType("user", PrimacyRoot, false, true);
    Type* itemLog = store.NewType(DiagnosticsTypes::itemLog, PrimacyRoot, true, true);
    ItemPtr alice = user->GetItem("alice"), bob = user->GetItem("bob");

    LogStore()
    {
        using namespace DiagnosticsTypes;
        for (const char* field : {logTime, logArea, logLevel, logText})
            itemLog->RelateToType(store.NewType(field, PrimacyLeaf, false, true), Many, One, false);
        itemLog->RelateToType(store.NewType(logOrder, PrimacyLeaf, false, true), One, One, false);
        user->RelateToType(itemLog, One, Many, false);
    }

    // Fields first, the item last, as a watcher of the item expects a complete record.
    void Record(ItemPtr item, const char* area, int level, const QString& text, int order)
    {
        using namespace DiagnosticsTypes;
        ItemPtr record = itemLog->NewItem();
        record.Connect(store.GetType(logTime)->GetItem(QString("t%1").arg(order)));
        record.Connect(store.GetType(logArea)->GetItem(area));
        record.Connect(store.GetType(logLevel)->GetItem(level));
        record.Connect(store.GetType(logText)->GetItem(text));
        record.Connect(store.GetType(logOrder)->GetItem(order));
        record.Connect(item);
    }
};

// Users in rooms; a room holds valueless tickers.
struct ChatStore
{
    Data store;
    Type* user = store.NewType("user", PrimacyRoot, false, true);
    Type* room = store.NewType("room", PrimacyRoot, false, true);
    Type* ticker = store.NewType("ticker", PrimacyLeaf, true, true);
    ItemPtr alice = user->GetItem("alice"), bob = user->GetItem("bob");
    ItemPtr lobby = room->GetItem("lobby"), den = room->GetItem("<b>den</b>");
    ItemPtr note = ticker->NewItem();

    ChatStore()
    {
        user->RelateToType(room, Many, Many, false);
        room->RelateToType(ticker, One, Many, false);
        for (const char* name : {"9", "10", "carol"})
            user->GetItem(name);
        alice.Connect(lobby);
        alice.Connect(den);
        bob.Connect(lobby);
        lobby.Connect(note);
    }
};
} // namespace

class DiagnosticsBrowsersTest : public QObject
{
    Q_OBJECT

private slots:
    void itemLogPagesRecordsByAreaInLogOrder()
    {
        LogStore logs;
        logs.Record(logs.alice, "Transfer Queue", 1, "queued", 2);
        logs.Record(logs.alice, "Transfer Queue", 2, "<b>song</b>.mp3", 0);
        logs.Record(logs.alice, "Peer Messenger", 3, "hello", 1);
        logs.Record(logs.bob, "Search", 1, "not alice's", 3);

        QPointer<ItemLogDialog> dialog = new ItemLogDialog(logs.alice);
        dialog->show();
        auto* tabs = dialog->findChild<QTabWidget*>("logTabWidget");
        QCOMPARE(PageTitles(tabs), (QStringList{"All", "Transfer Queue", "Peer Messenger"}));
        const QStringList all{"[t0]    <b>song</b>.mp3", "[t1]       hello", "[t2] queued"};
        QCOMPARE(PageLines(tabs, "All"), all);
        QCOMPARE(PageLines(tabs, "Transfer Queue"), (QStringList{all[0], all[2]}));
        QCOMPARE(PageLines(tabs, "Peer Messenger"), QStringList{all[1]});
        Close(dialog);
        QVERIFY(dialog.isNull());
    }

    void itemLogFollowsNewRecordsOfItsItemOnly()
    {
        LogStore logs;
        QPointer<ItemLogDialog> first = new ItemLogDialog(logs.alice);
        QPointer<ItemLogDialog> second = new ItemLogDialog(logs.alice);
        auto* firstTabs = first->findChild<QTabWidget*>("logTabWidget");
        auto* secondTabs = second->findChild<QTabWidget*>("logTabWidget");
        QCOMPARE(PageTitles(firstTabs), QStringList{"All"});
        QCOMPARE(PageLines(firstTabs, "All"), QStringList());

        logs.Record(logs.bob, "Search", 1, "for bob", 0);
        logs.Record(logs.alice, "Search", 2, "for alice", 1);
        for (QTabWidget* tabs : {firstTabs, secondTabs})
        {
            QCOMPARE(PageTitles(tabs), (QStringList{"All", "Search"}));
            QCOMPARE(PageLines(tabs, "Search"), QStringList{"[t1]    for alice"});
            QCOMPARE(PageLines(tabs, "All"), QStringList{"[t1]    for alice"});
        }

        // A closed dialog is gone; the open one still follows.
        Close(first);
        QVERIFY(first.isNull());
        logs.Record(logs.alice, "Search", 1, "later", 2);
        QCOMPARE(PageLines(secondTabs, "All"), (QStringList{"[t1]    for alice", "[t2] later"}));
        Close(second);
    }

    void dataBrowserShowsLiveCountsPerType()
    {
        ChatStore chat;
        QPointer<DataDialog> dialog = new DataDialog(&chat.store);
        QCOMPARE(dataDialog, dialog.data());
        dialog->show();
        auto* types = dialog->findChild<QTreeWidget*>("typeList");
        auto* items = dialog->findChild<QListWidget*>("itemList");
        QCOMPARE(Column(types, 0), (QStringList{"room", "ticker", "user"}));
        QCOMPARE(Column(types, 1), (QStringList{"value   ", "null   ", "value   "}));
        QCOMPARE(Column(types, 2), (QStringList{"2", "1", "5"}));

        types->topLevelItem(1)->setSelected(true);
        const auto identity = reinterpret_cast<std::intptr_t>(chat.note.Get());
        QCOMPARE(ListTexts(items), QStringList{QString::number(qlonglong(identity))});

        types->clearSelection();
        types->topLevelItem(2)->setSelected(true);
        QCOMPARE(ListTexts(items), (QStringList{"10", "9", "alice", "bob", "carol"}));
        chat.user->GetItem("bert");
        chat.room->GetItem("attic");
        QCOMPARE(ListTexts(items), (QStringList{"10", "9", "alice", "bert", "bob", "carol"}));
        QCOMPARE(Column(types, 2), (QStringList{"3", "1", "6"}));
        ItemPtr(chat.user->GetItem("9")).Remove();
        chat.note.Remove();
        QCOMPARE(ListTexts(items), (QStringList{"10", "alice", "bert", "bob", "carol"}));
        QCOMPARE(Column(types, 2), (QStringList{"3", "0", "5"}));

        // A type declared after the browser opened gets its row with its first item.
        chat.store.NewType("mood", PrimacyLeaf, false, true)->GetItem("calm");
        QCOMPARE(Column(types, 0), (QStringList{"mood", "room", "ticker", "user"}));
        QCOMPARE(Column(types, 2), (QStringList{"1", "3", "0", "5"}));

        Close(dialog);
        QVERIFY(dialog.isNull());
        QVERIFY(!dataDialog);
    }

    void dataBrowserLoadsConnectionsWhenOpened()
    {
        ChatStore chat;
        QPointer<DataDialog> dialog = new DataDialog(&chat.store);
        dialog->show();
        auto* types = dialog->findChild<QTreeWidget*>("typeList");
        auto* items = dialog->findChild<QListWidget*>("itemList");
        auto* tree = dialog->findChild<QTreeWidget*>("itemDataTree");
        types->topLevelItem(2)->setSelected(true);

        emit items->itemClicked(items->findItems("carol", Qt::MatchExactly).value(0));
        QCOMPARE(tree->topLevelItemCount(), 1);
        QCOMPARE(tree->topLevelItem(0)->childCount(), 0);

        emit items->itemClicked(items->findItems("alice", Qt::MatchExactly).value(0));
        QTreeWidgetItem* root = tree->topLevelItem(0);
        QCOMPARE(root->text(0), QString("alice"));
        QVERIFY(root->isExpanded());
        QCOMPARE(Children(root), (QStringList{"[room] <b>den</b>", "[room] lobby"}));
        QTreeWidgetItem* lobby = Child(root, "[room] lobby");
        QCOMPARE(Children(lobby), QStringList{"~~unloaded~~"});

        lobby->setExpanded(true);
        const QStringList inLobby{"[ticker, null]", "[user] alice", "[user] bob"};
        QCOMPARE(Children(lobby), inLobby);
        QCOMPARE(tree->currentItem(), lobby);
        QCOMPARE(Children(Child(lobby, "[user] bob")), QStringList{"~~unloaded~~"});
        lobby->setExpanded(false);
        lobby->setExpanded(true);
        QCOMPARE(Children(lobby), inLobby);

        // The way back up opens again, so the lobby now also shows inside its own subtree.
        QTreeWidgetItem* aliceAgain = Child(lobby, "[user] alice");
        aliceAgain->setExpanded(true);
        QCOMPARE(Children(aliceAgain), (QStringList{"[room] <b>den</b>", "[room] lobby"}));
        Child(aliceAgain, "[room] lobby")->setExpanded(true);

        chat.bob.Remove();
        QCOMPARE(Children(lobby), (QStringList{"[ticker, null]", "[user] alice"}));
        chat.lobby.Remove();
        QCOMPARE(Children(root), QStringList{"[room] <b>den</b>"});
        chat.alice.Remove();
        QCOMPARE(tree->topLevelItemCount(), 0);
        Close(dialog);
    }

    void typeNavigatorListsChainsShortestFirst()
    {
        Data store;
        Type* alpha = store.NewType("alpha", PrimacyRoot, false, true);
        Type* beta = store.NewType("beta", PrimacyRoot, false, true);
        Type* gamma = store.NewType("gamma", PrimacyLeaf, true, true);
        store.NewType("zeta", PrimacyRoot, false, true);
        alpha->RelateToType(beta, One, One, false);
        alpha->RelateToType(gamma, Many, One, false);
        beta->RelateToType(gamma, One, Many, false);
        // alpha - c1 - ... - c7: c6 lies six relations away, c7 seven.
        Type* previous = alpha;
        for (int step = 1; step <= 7; ++step)
        {
            Type* next = store.NewType("c" + std::to_string(step), PrimacyRoot, false, true);
            previous->RelateToType(next, One, One, false);
            previous = next;
        }

        QPointer<TypeNavigatorDialog> dialog = new TypeNavigatorDialog(nullptr, &store);
        QCOMPARE(typeNavigatorDialog, dialog.data());
        dialog->Init();
        dialog->show();
        auto* from = dialog->findChild<QComboBox*>("fromTypeBox");
        auto* to = dialog->findChild<QComboBox*>("toTypeBox");
        auto* chart = dialog->findChild<QTextBrowser*>("chartEdit");
        QCOMPARE(BoxTexts(from), (QStringList{"alpha", "beta", "c1", "c2", "c3", "c4", "c5", "c6",
                                              "c7", "gamma", "zeta"}));
        QCOMPARE(BoxTexts(to), (QStringList{"beta", "c1", "c2", "c3", "c4", "c5", "c6", "gamma"}));
        QCOMPARE(Lines(chart),
                 (QStringList{"[2] alpha -> beta", "[3] alpha -> gamma [null] -> beta"}));
        QVERIFY(GreenCount(chart, 0) && GreenCount(chart, 1));

        to->setCurrentText("gamma");
        QCOMPARE(Lines(chart),
                 (QStringList{"[2] alpha -> gamma [null]", "[3] alpha -> beta => gamma [null]"}));
        QVERIFY(GreenCount(chart, 0));
        QVERIFY(!GreenCount(chart, 1));

        to->setCurrentText("c6");
        QCOMPARE(Lines(chart), QStringList{"[7] alpha -> c1 -> c2 -> c3 -> c4 -> c5 -> c6"});

        // One step to many items anywhere in the chain takes the green away.
        from->setCurrentText("gamma");
        to->setCurrentText("beta");
        QCOMPARE(Lines(chart),
                 (QStringList{"[2] gamma [null] -> beta", "[3] gamma [null] => alpha -> beta"}));
        QVERIFY(GreenCount(chart, 0));
        QVERIFY(!GreenCount(chart, 1));

        from->setCurrentText("c7");
        QCOMPARE(BoxTexts(to), (QStringList{"c1", "c2", "c3", "c4", "c5", "c6"}));
        QCOMPARE(Lines(chart), QStringList{"[7] c7 -> c6 -> c5 -> c4 -> c3 -> c2 -> c1"});

        from->setCurrentText("zeta");
        QCOMPARE(BoxTexts(to), QStringList());
        QCOMPARE(Lines(chart), QStringList());

        Close(dialog);
        QVERIFY(dialog.isNull());
        QVERIFY(!typeNavigatorDialog);
    }
};

QTEST_MAIN(DiagnosticsBrowsersTest)
#include "tst_browsers.moc"
