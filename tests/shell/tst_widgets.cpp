#include <QLineEdit>
#include <QTabBar>
#include <QtTest>

#include "ColumnSortingModel.h"
#include "TabFocus.h"
#include "TabWidget.h"
#include "TreeWidgetItem.h"

namespace {
// The texts of column 1 after sorting on it, ascending.
QStringList Sorted(ColumnSortingModel* model, const QStringList& texts)
{
    QTreeWidget tree;
    tree.setColumnCount(2);
    for (int row = 0; row < texts.size(); ++row)
    {
        auto* item = new TreeWidgetItem(&tree);
        item->SetSortingModel(model);
        // Column 0 runs against column 1, so sorting on the wrong column shows.
        item->setText(0, QString::number(texts.size() - row));
        item->setText(1, texts[row]);
    }
    tree.sortItems(1, Qt::AscendingOrder);
    QStringList sorted;
    for (int row = 0; row < tree.topLevelItemCount(); ++row)
        sorted << tree.topLevelItem(row)->text(1);
    return sorted;
}
} // namespace

class ShellWidgetsTest : public QObject
{
    Q_OBJECT

private slots:
    void sortsRowsByColumnRules()
    {
        ColumnSortingModel otherColumn, numeric, reversed;
        otherColumn.SetColumnSortingNumeric(0);
        numeric.SetColumnSortingNumeric(1);
        reversed.SetColumnSortingNumeric(1);
        reversed.SetColumnSortingReversed(1);
        const QStringList mixed{"9", "a", "10", "B"};
        QCOMPARE(Sorted(nullptr, mixed), (QStringList{"10", "9", "B", "a"}));
        QCOMPARE(Sorted(&otherColumn, mixed), (QStringList{"10", "9", "B", "a"}));
        // Every non-digit is dropped.
        QCOMPARE(Sorted(&numeric, {"1,234", "12 of 30", "-5", "1.5 MB", "no digits"}),
                 (QStringList{"no digits", "-5", "1.5 MB", "12 of 30", "1,234"}));
        QCOMPARE(Sorted(&reversed, {"2", "10", "1"}), (QStringList{"10", "2", "1"}));
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

        inner->setCurrentIndex(1);
        TabWidget::MarkTabActivity(deep);
        QCOMPARE(outer.tabBar()->tabTextColor(1), QColor(Qt::blue));
        QCOMPARE(inner->tabBar()->tabTextColor(1), QColor());
        // A plain tab widget on the way is passed over, not marked.
        TabWidget::MarkTabActivity(inPlain);
        QCOMPARE(inner->tabBar()->tabTextColor(0), QColor(Qt::blue));
        QCOMPARE(plain->tabBar()->tabTextColor(1), QColor());

        int index = -1;
        QCOMPARE(GetWidgetTabWidget(deep, index), static_cast<QTabWidget*>(inner));
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
};

QTEST_MAIN(ShellWidgetsTest)
#include "tst_widgets.moc"
