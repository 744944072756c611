#include <memory>

#include <QLineEdit>
#include <QStyleFactory>
#include <QTabBar>
#include <QtTest>

#include "ColumnSortingModel.h"
#include "ProxyStyle.h"
#include "TabFocus.h"
#include "TabWidget.h"
#include "TreeWidget.h"
#include "TreeWidgetItem.h"

class ShellWidgetsTest : public QObject
{
    Q_OBJECT

private slots:
    void sortsRowsByColumnRules_data()
    {
        QTest::addColumn<QString>("rules"); // n numeric, r reversed, m model without entry
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QStringList>("ascending");
        QTest::newRow("numeric drops every non-digit")
            << "n" << QStringList{"1,234", "12 of 30", "-5", "1.5 MB", "no digits"}
            << QStringList{"no digits", "-5", "1.5 MB", "12 of 30", "1,234"};
        QTest::newRow("numeric beyond 64 bits or empty is 0")
            << "n" << QStringList{"3", "99999999999999999999", ""}
            << QStringList{"99999999999999999999", "", "3"};
        QTest::newRow("no model is plain text")
            << "" << QStringList{"9", "a", "10", "B"} << QStringList{"10", "9", "B", "a"};
        QTest::newRow("column without entry is text")
            << "m" << QStringList{"9", "a", "10", "B"} << QStringList{"10", "9", "B", "a"};
        QTest::newRow("reversed numeric")
            << "nr" << QStringList{"2", "10", "1"} << QStringList{"10", "2", "1"};
        QTest::newRow("reversed text")
            << "r" << QStringList{"a", "c", "b"} << QStringList{"c", "b", "a"};
    }

    void sortsRowsByColumnRules()
    {
        QFETCH(QString, rules);
        QFETCH(QStringList, texts);
        QFETCH(QStringList, ascending);
        ColumnSortingModel model;
        if (rules.contains('n'))
            model.SetColumnSortingNumeric(1);
        if (rules.contains('r'))
            model.SetColumnSortingReversed(1);
        if (rules.contains('m'))
            model.SetColumnSortingNumeric(0);
        QTreeWidget tree;
        tree.setColumnCount(2);
        for (int row = 0; row < texts.size(); ++row)
        {
            auto* item = new TreeWidgetItem(&tree);
            item->SetSortingModel(rules.isEmpty() ? nullptr : &model);
            // Column 0 runs against column 1, so sorting on the wrong column shows.
            item->setText(0, QString::number(texts.size() - row));
            item->setText(1, texts[row]);
        }
        tree.sortItems(1, Qt::AscendingOrder);
        QStringList sorted;
        for (int row = 0; row < tree.topLevelItemCount(); ++row)
            sorted << tree.topLevelItem(row)->text(1);
        QCOMPARE(sorted, ascending);
    }

    void keyPressReachesOwnerBeforeTheList()
    {
        TreeWidget tree;
        auto* top = new QTreeWidgetItem(&tree, {"top"});
        new QTreeWidgetItem(&tree, {"next"});
        tree.setCurrentItem(top);
        QTreeWidgetItem* currentWhenSeen = nullptr;
        connect(&tree, &TreeWidget::KeyPressed, this,
                [&](QKeyEvent*) { currentWhenSeen = tree.currentItem(); });
        QTest::keyClick(&tree, Qt::Key_Down);
        QCOMPARE(currentWhenSeen, top);
        QCOMPARE(tree.currentItem()->text(0), QString("next"));
    }

    void marksFindsAndOpensTabsThroughNesting()
    {
        TabWidget outer;
        outer.addTab(new QWidget, "first");
        auto* inner = new TabWidget;
        outer.addTab(inner, "second");
        auto* plain = new QTabWidget;
        inner->addTab(plain, "plain");
        auto* page = new QWidget;
        auto* deep = new QLineEdit(new QWidget(page));
        inner->addTab(page, "page");
        plain->addTab(new QWidget, "plain first");
        auto* inPlain = new QWidget;
        plain->addTab(inPlain, "plain second");
        const QColor blue(Qt::blue);

        inner->setCurrentIndex(1);
        TabWidget::MarkTabActivity(deep);
        QCOMPARE(outer.tabBar()->tabTextColor(1), blue);
        QCOMPARE(inner->tabBar()->tabTextColor(1), QColor());
        // A plain tab widget on the way is passed over, not marked.
        TabWidget::MarkTabActivity(inPlain);
        QCOMPARE(inner->tabBar()->tabTextColor(0), blue);
        QCOMPARE(plain->tabBar()->tabTextColor(1), QColor());

        int index = -7;
        QCOMPARE(GetWidgetTabWidget(deep, index), static_cast<QTabWidget*>(inner));
        QCOMPARE(index, 1);
        QWidget lonely;
        QVERIFY(!GetWidgetTabWidget(&lonely, index));
        QCOMPARE(index, 1);

        FocusWidgetAndParents(inPlain);
        QCOMPARE(plain->currentIndex(), 1);
        QCOMPARE(inner->currentIndex(), 0);
        QCOMPARE(outer.currentIndex(), 1);
        QCOMPARE(outer.tabBar()->tabTextColor(1), QColor());
        QCOMPARE(inner->tabBar()->tabTextColor(0), QColor());
    }

    void focusGoesToTheBestRankedVisibleWidget()
    {
        TabWidget tabs;
        auto* first = new QWidget;
        auto* early = new QLineEdit(first);
        auto* late = new QLineEdit(first);
        auto* results = new QWidget;
        auto* input = new QLineEdit(results);
        auto* tree = new QTreeWidget(results);
        auto* twin = new QTreeWidget(results);
        auto* hidden = new QLineEdit(results);
        tabs.addTab(first, "first");
        tabs.addTab(results, "results");
        RegisterWidgetForTabFocus(input, 1);
        RegisterWidgetForTabFocus(tree, 2);
        RegisterWidgetForTabFocus(twin, 2);
        hidden->hide();
        RegisterWidgetForTabFocus(hidden, 5);
        tabs.show();
        QVERIFY(QTest::qWaitForWindowActive(&tabs));
        RegisterWidgetForTabFocus(early, 1);
        RegisterWidgetForTabFocus(late, 1);
        QCOMPARE(tabs.focusWidget(), late);

        tabs.setCurrentIndex(1);
        QCOMPARE(tabs.focusWidget(), tree);

        // Rank 0 never wins: the focus stays where it is.
        RegisterWidgetForTabFocus(early, 0);
        RegisterWidgetForTabFocus(late, 0);
        tabs.setCurrentIndex(0);
        late->setFocus();
        QCOMPARE(FindWidgetFocusProperty(first, 0), 0);
        QCOMPARE(tabs.focusWidget(), late);
    }

    void proxyStyleHandsOperationsToItsBase()
    {
        ProxyStyle proxy("Fusion");
        const std::unique_ptr<QStyle> fusion(QStyleFactory::create("Fusion"));
        QCOMPARE(proxy.pixelMetric(QStyle::PM_ScrollBarExtent),
                 fusion->pixelMetric(QStyle::PM_ScrollBarExtent));
        ProxyStyle unknown("no such style");
        QCOMPARE(unknown.pixelMetric(QStyle::PM_ScrollBarExtent), 0);
    }
};

QTEST_MAIN(ShellWidgetsTest)
#include "tst_widgets.moc"
