#include <QHeaderView>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include "Data.h"
#include "DataSaver.h"
#include "ResizableWindow.h"
#include "SizeManager.h"

namespace {
using SM = SizeManager;

struct FakeWindow : ResizableWindow
{
    explicit FakeWindow(QRect geometry) : geometry(geometry) {}
    int GetX() override { return geometry.x(); }
    int GetY() override { return geometry.y(); }
    int GetWidth() override { return geometry.width(); }
    int GetHeight() override { return geometry.height(); }
    void SetPosition(int x, int y) override { geometry.moveTo(x, y); }
    void SetSize(int width, int height) override { geometry.setSize({width, height}); }
    QRect geometry;
};

// The user's drag of a splitter handle, which is what emits splitterMoved.
struct DraggableSplitter : QSplitter
{
    DraggableSplitter()
    {
        for (int pane = 0; pane < 3; ++pane)
            addWidget(new QWidget);
        resize(400, 100);
        show();
    }
    using QSplitter::moveSplitter;
};

struct Tree : QTreeWidget
{
    Tree() { setColumnCount(3); }
};

QList<int> StoredPanes(const QString& name)
{
    QList<int> sizes;
    const ItemPtr splitter = d.GetType(SM::splitterType)->HasItem(Value(name));
    for (ItemPtr pane :
         splitter.GetItems(SM::splitterIndexType).SortNumericBy(SM::splitterIndexNumberType, true))
        sizes << pane[SM::sizeType].AsInt();
    return sizes;
}
} // namespace

class ShellSizesTest : public QObject
{
    Q_OBJECT

    DataSaver saver; // before the size manager, which registers its saved types with it
    QTemporaryDir folder;

private slots:
    void initTestCase() { new SizeManager(this); }

    void sizesAreSharedByNameAndSurviveARestartUntilForgotten()
    {
        QList<int> moved;
        {
            FakeWindow window({10, 20, 300, 200});
            sizeManager->RegisterResizableWindow("main_window", &window);
            QCOMPARE(window.geometry, QRect(10, 20, 300, 200));
            emit window.WindowMoved(50, 60);
            emit window.WindowResized(640, 480);

            DraggableSplitter given, dragged, sibling;
            const QList<int> before = given.sizes();
            sizeManager->RegisterSplitter("room_splitter", &given, {100, 200, 50});
            QCOMPARE(StoredPanes("room_splitter"), QList<int>({100, 200, 50}));
            QCOMPARE(given.sizes(), before);
            sizeManager->RegisterSplitter("wish_list_splitter", &dragged, {});
            sizeManager->RegisterSplitter("wish_list_splitter", &sibling, {});
            QCOMPARE(StoredPanes("wish_list_splitter"), before);
            dragged.moveSplitter(60, 1);
            moved = dragged.sizes();
            QVERIFY(moved != before);
            QCOMPARE(sibling.sizes(), moved);

            // Two columns and a pane share size item 50; it must outlast one column's move.
            Tree first, second;
            first.header()->resizeSection(0, 50);
            first.header()->resizeSection(1, 50);
            sizeManager->RegisterTreeWidget("search_results", &first);
            sizeManager->RegisterTreeWidget("search_results", &second);
            QCOMPARE(second.header()->sectionSize(1), 50);
            second.header()->resizeSection(0, 150);
            QCOMPARE(first.header()->sectionSize(0), 150);
            QCOMPARE(StoredPanes("room_splitter"), QList<int>({100, 200, 50}));
            // The stretched last column is left to the layout.
            QCOMPARE(g(SM::treeColumnType).Size(), size_t(2));
        }
        // Nothing stays tied to the destroyed widgets, nor to a size nothing holds.
        QVERIFY(g(SM::splitterWidgetType).Empty());
        QVERIFY(g(SM::treeWidgetType).Empty());
        QVERIFY(i(SM::xType, 10).Empty());

        // Saved, emptied and loaded again, as a new run would.
        saver.Save(folder.filePath("sizes"));
        d.RemoveAllItems();
        saver.Load(folder.filePath("sizes"));
        FakeWindow window({0, 0, 100, 100});
        sizeManager->RegisterResizableWindow("main_window", &window);
        QCOMPARE(window.geometry, QRect(50, 60, 640, 480));
        DraggableSplitter splitter;
        sizeManager->RegisterSplitter("wish_list_splitter", &splitter, {});
        QCOMPARE(splitter.sizes(), moved);
        Tree tree;
        sizeManager->RegisterTreeWidget("search_results", &tree);
        QCOMPARE(tree.header()->sectionSize(0), 150);
        QCOMPARE(tree.header()->sectionSize(1), 50);

        // A name whose record is gone records nothing.
        sizeManager->ForgetTreeWidget("search_results");
        tree.header()->resizeSection(0, 77);
        QVERIFY(g(SM::treeType).Empty());
        QVERIFY(i(SM::sizeType, 77).Empty());
        ItemPtr(d.GetType(SM::windowType)->HasItem(Value("main_window"))).Remove();
        emit window.WindowMoved(77, 78);
        QVERIFY(i(SM::xType, 77).Empty());
    }
};

QTEST_MAIN(ShellSizesTest)
#include "tst_sizes.moc"
