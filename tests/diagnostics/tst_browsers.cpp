#include <cstdint>

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

using namespace DiagnosticsTypes;

namespace {
template <class Read> QStringList Texts(int count, Read read)
{
    QStringList texts;
    for (int index = 0; index < count; ++index)
        texts << read(index);
    return texts;
}

// Each page of an item log as "title: line | line".
QStringList Pages(const QWidget* dialog)
{
    auto* tabs = dialog->findChild<QTabWidget*>("logTabWidget");
    return Texts(tabs->count(), [tabs](int page) {
        return tabs->tabText(page) + ": " +
               qobject_cast<QTextBrowser*>(tabs->widget(page))->toPlainText().replace('\n', " | ");
    });
}

// Each row of a list, box or tree's top level, its columns joined.
template <class View> QStringList Rows(const View* view)
{
    const QAbstractItemModel* model = view->model();
    return Texts(model->rowCount(), [model](int row) {
        return Texts(model->columnCount(),
                     [=](int column) { return model->index(row, column).data().toString(); })
            .join(' ')
            .simplified();
    });
}

// Children come in the store's identity order, so they are compared as sorted lists.
QStringList Children(const QTreeWidgetItem* node)
{
    QStringList texts =
        Texts(node->childCount(), [node](int at) { return node->child(at)->text(0); });
    texts.sort();
    return texts;
}

// The chart's lines, "+" in front of those whose count is set off in green bold.
QStringList Chart(const QTextBrowser* chart)
{
    QStringList lines;
    for (QTextBlock line = chart->document()->begin(); line.isValid(); line = line.next())
    {
        const QTextCharFormat format = line.begin().fragment().charFormat();
        const bool marked = format.font().bold() && format.foreground().color() == QColor("green");
        lines << (marked ? "+" : "") + line.text();
    }
    return lines;
}

// Closes the dialog and tells whether it went.
bool Closed(QWidget* dialog)
{
    QPointer<QWidget> gone = dialog;
    dialog->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return gone.isNull();
}
} // namespace

class DiagnosticsBrowsersTest : public QObject
{
    Q_OBJECT

private slots:
    void itemLogPagesRecordsByAreaAndFollowsNewOnes()
    {
        // Typed as the diagnostics form declares them.
        Data store;
        Type* user = store.NewType("user", PrimacyRoot, false, true);
        Type* itemLog = store.NewType(DiagnosticsTypes::itemLog, PrimacyRoot, true, true);
        for (const char* field : {logTime, logArea, logLevel, logText})
            itemLog->RelateToType(store.NewType(field, PrimacyLeaf, false, true), Many, One, false);
        itemLog->RelateToType(store.NewType(logOrder, PrimacyLeaf, false, true), One, One, false);
        user->RelateToType(itemLog, One, Many, false);
        const ItemPtr alice = user->GetItem("alice"), bob = user->GetItem("bob");
        // Fields first, the item last, as a watcher of the item expects a complete record.
        const auto add = [&](ItemPtr item, const char* area, int level, const char* text,
                             int order) {
            ItemPtr record = itemLog->NewItem();
            record += store.GetType(logTime)->GetItem(QString("t%1").arg(order));
            record += store.GetType(logArea)->GetItem(area);
            record += store.GetType(logLevel)->GetItem(level);
            record += store.GetType(logText)->GetItem(text);
            record += store.GetType(logOrder)->GetItem(order);
            record += item;
        };

        add(alice, "Transfer Queue", 1, "queued", 2);
        add(alice, "Transfer Queue", 2, "<b>song</b>.mp3", 0);
        add(alice, "Peer Messenger", 3, "hello", 1);
        add(bob, "Search", 1, "not alice's", 3);
        auto* dialog = new ItemLogDialog(alice);
        QStringList pages{"All: [t0]    <b>song</b>.mp3 | [t1]       hello | [t2] queued",
                          "Transfer Queue: [t0]    <b>song</b>.mp3 | [t2] queued",
                          "Peer Messenger: [t1]       hello"};
        QCOMPARE(Pages(dialog), pages);

        add(bob, "Search", 1, "for bob", 4);
        add(alice, "Search", 2, "for alice", 5);
        pages[0] += " | [t5]    for alice";
        pages << "Search: [t5]    for alice";
        QCOMPARE(Pages(dialog), pages);
        QVERIFY(Closed(dialog));
        add(alice, "Search", 1, "later", 6); // must not reach the closed dialog
    }

    void dataBrowserShowsLiveCountsAndLoadsRelationsWhenOpened()
    {
        // Users in rooms; a room holds valueless tickers.
        Data store;
        Type* user = store.NewType("user", PrimacyRoot, false, true);
        Type* room = store.NewType("room", PrimacyRoot, false, true);
        user->RelateToType(room, Many, Many, false);
        room->RelateToType(store.NewType("ticker", PrimacyLeaf, true, true), One, Many, false);
        const ItemPtr alice = user->GetItem("alice"), bob = user->GetItem("bob");
        const ItemPtr lobby = room->GetItem("lobby"), den = room->GetItem("<b>den</b>");
        const ItemPtr note = store.GetType("ticker")->NewItem();
        alice += lobby;
        alice += den;
        bob += lobby;
        lobby += note;

        auto* dialog = new DataDialog(&store);
        QCOMPARE(dataDialog, dialog);
        auto* types = dialog->findChild<QTreeWidget*>("typeList");
        auto* items = dialog->findChild<QListWidget*>("itemList");
        auto* tree = dialog->findChild<QTreeWidget*>("itemDataTree");
        const auto node = [tree](const char* text, int match = 0) {
            return tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive).value(match);
        };
        QCOMPARE(Rows(types), (QStringList{"room value 2", "ticker null 1", "user value 2"}));
        types->setCurrentItem(types->topLevelItem(1));
        const auto identity = reinterpret_cast<std::intptr_t>(note.Get());
        QCOMPARE(Rows(items), QStringList{QString::number(qlonglong(identity))});
        types->setCurrentItem(types->topLevelItem(2));
        user->GetItem("bert");
        QCOMPARE(Rows(items), (QStringList{"alice", "bert", "bob"}));

        emit items->itemClicked(items->findItems("alice", Qt::MatchExactly).value(0));
        QTreeWidgetItem* root = tree->topLevelItem(0);
        QCOMPARE(Rows(tree), QStringList{"alice"});
        QCOMPARE(Children(root), (QStringList{"[room] <b>den</b>", "[room] lobby"}));
        QCOMPARE(Children(node("[room] lobby")), QStringList{"~~unloaded~~"});
        const QStringList inLobby{"[ticker, null]", "[user] alice", "[user] bob"};
        node("[room] lobby")->setExpanded(true);
        QCOMPARE(Children(node("[room] lobby")), inLobby);
        node("[room] lobby")->setExpanded(false);
        node("[room] lobby")->setExpanded(true);
        QCOMPARE(Children(node("[room] lobby")), inLobby);
        // The way back up opens again, so the lobby now also shows inside its own subtree.
        node("[user] alice")->setExpanded(true);
        node("[room] lobby", 1)->setExpanded(true);
        QCOMPARE(Children(node("[room] lobby", 1)), inLobby);

        bob.Remove();
        note.Remove();
        QCOMPARE(Rows(items), (QStringList{"alice", "bert"}));
        QCOMPARE(Rows(types), (QStringList{"room value 2", "ticker null 0", "user value 2"}));
        QCOMPARE(Children(node("[room] lobby")), QStringList{"[user] alice"});
        lobby.Remove();
        QCOMPARE(Children(root), QStringList{"[room] <b>den</b>"});
        alice.Remove();
        QCOMPARE(tree->topLevelItemCount(), 0);

        // A type declared after the browser opened gets its row with its first item.
        store.NewType("mood", PrimacyLeaf, false, true)->GetItem("calm");
        QCOMPARE(Rows(types),
                 (QStringList{"mood value 1", "room value 1", "ticker null 0", "user value 1"}));
        QVERIFY(Closed(dialog));
        QVERIFY(!dataDialog);
    }

    void typeNavigatorListsChainsUpToSixRelations()
    {
        Data store;
        Type* alpha = store.NewType("alpha", PrimacyRoot, false, true);
        Type* gamma = store.NewType("gamma", PrimacyLeaf, true, true);
        alpha->RelateToType(store.NewType("beta", PrimacyRoot, false, true), One, One, false);
        alpha->RelateToType(gamma, Many, One, false);
        store.GetType("beta")->RelateToType(gamma, One, Many, false);
        // alpha - c1 - ... - c7: c6 lies six relations away, c7 seven.
        const char* const chain[] = {"alpha", "c1", "c2", "c3", "c4", "c5", "c6", "c7"};
        for (int step = 1; step < 8; ++step)
            store.GetType(chain[step - 1])
                ->RelateToType(store.NewType(chain[step], PrimacyRoot, false, true), One, One,
                               false);

        auto* dialog = new TypeNavigatorDialog(nullptr, &store);
        QCOMPARE(typeNavigatorDialog, dialog);
        dialog->Init();
        auto* to = dialog->findChild<QComboBox*>("toTypeBox");
        auto* chart = dialog->findChild<QTextBrowser*>("chartEdit");
        QCOMPARE(Rows(to), (QStringList{"beta", "c1", "c2", "c3", "c4", "c5", "c6", "gamma"}));
        QCOMPARE(Chart(chart),
                 (QStringList{"+[2] alpha -> beta", "+[3] alpha -> gamma [null] -> beta"}));

        // One step to many items anywhere in the chain takes the green away.
        to->setCurrentText("gamma");
        QCOMPARE(Chart(chart),
                 (QStringList{"+[2] alpha -> gamma [null]", "[3] alpha -> beta => gamma [null]"}));
        to->setCurrentText("c6");
        QCOMPARE(Chart(chart), QStringList{"+[7] alpha -> c1 -> c2 -> c3 -> c4 -> c5 -> c6"});
        QVERIFY(Closed(dialog));
        QVERIFY(!typeNavigatorDialog);
    }
};

QTEST_MAIN(DiagnosticsBrowsersTest)
#include "tst_browsers.moc"
