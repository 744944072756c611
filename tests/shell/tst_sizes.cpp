#include <memory>

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

class FakeWindow : public ResizableWindow
{
public:
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
class DraggableSplitter : public QSplitter
{
public:
    DraggableSplitter()
    {
        for (int pane = 0; pane < 3; ++pane)
            addWidget(new QWidget);
        resize(400, 100);
        show();
    }
    using QSplitter::moveSplitter;
};

std::unique_ptr<QTreeWidget> NewTree()
{
    auto tree = std::make_unique<QTreeWidget>();
    tree->setColumnCount(3);
    return tree;
}

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

    // Saves, empties the store and loads it again, as a new run would.
    void Restart()
    {
        saver.Save(folder.filePath("sizes"));
        d.RemoveAllItems();
        saver.Load(folder.filePath("sizes"));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(folder.isValid());
        new SizeManager(this);
    }

    void init() { d.RemoveAllItems(); }

    void restoresTheWindowAfterARestart()
    {
        {
            FakeWindow window({10, 20, 300, 200});
            sizeManager->RegisterResizableWindow("main_window", &window);
            QCOMPARE(window.geometry, QRect(10, 20, 300, 200));
            emit window.WindowMoved(50, 60);
            emit window.WindowResized(640, 480);
        }
        QVERIFY(i(SM::xType, 10).Empty());
        Restart();
        FakeWindow window({0, 0, 100, 100});
        sizeManager->RegisterResizableWindow("main_window", &window);
        QCOMPARE(window.geometry, QRect(50, 60, 640, 480));
    }

    void recordsGivenPanesAndRestoresMovedOnes()
    {
        DraggableSplitter fresh;
        const QList<int> before = fresh.sizes();
        sizeManager->RegisterSplitter("room_splitter", &fresh, {100, 200, 50});
        QCOMPARE(StoredPanes("room_splitter"), QList<int>({100, 200, 50}));
        QCOMPARE(fresh.sizes(), before);

        auto dragged = std::make_unique<DraggableSplitter>();
        auto sibling = std::make_unique<DraggableSplitter>();
        sizeManager->RegisterSplitter("wish_list_splitter", dragged.get(), {});
        sizeManager->RegisterSplitter("wish_list_splitter", sibling.get(), {});
        QCOMPARE(StoredPanes("wish_list_splitter"), dragged->sizes());
        dragged->moveSplitter(60, 1);
        const QList<int> moved = dragged->sizes();
        QVERIFY(moved != before);
        QCOMPARE(StoredPanes("wish_list_splitter"), moved);
        QCOMPARE(sibling->sizes(), moved);
        dragged.reset();
        sibling.reset();
        QCOMPARE(g(SM::splitterWidgetType).Size(), size_t(1));

        Restart();
        DraggableSplitter reopened;
        sizeManager->RegisterSplitter("wish_list_splitter", &reopened, {});
        QCOMPARE(reopened.sizes(), moved);
    }

    void columnWidthsFollowSiblingsAndSurviveARestart()
    {
        auto first = NewTree();
        auto second = NewTree();
        first->header()->resizeSection(1, 70);
        sizeManager->RegisterTreeWidget("search_results", first.get());
        // The stretched last column is left to the layout.
        QCOMPARE(g(SM::treeColumnType).Size(), size_t(2));
        sizeManager->RegisterTreeWidget("search_results", second.get());
        QCOMPARE(second->header()->sectionSize(1), 70);

        second->header()->resizeSection(0, 150);
        QCOMPARE(first->header()->sectionSize(0), 150);
        QCOMPARE(g(SM::treeColumnType).Size(), size_t(2));
        QCOMPARE(g(SM::sizeType).Size(), size_t(2));

        second.reset();
        QCOMPARE(g(SM::treeWidgetType).Size(), size_t(1));
        first.reset();

        Restart();
        auto reopened = NewTree();
        sizeManager->RegisterTreeWidget("search_results", reopened.get());
        QCOMPARE(reopened->header()->sectionSize(0), 150);
        QCOMPARE(reopened->header()->sectionSize(1), 70);
    }

    void sharedSizeGoesWithItsLastHolder()
    {
        auto tree = NewTree();
        tree->header()->setStretchLastSection(false);
        for (int column = 0; column < 3; ++column)
            tree->header()->resizeSection(column, 90);
        sizeManager->RegisterTreeWidget("user_list", tree.get());
        QCOMPARE(g(SM::treeColumnType).Size(), size_t(3));
        QCOMPARE(g(SM::sizeType).Size(), size_t(1));
        tree->header()->resizeSection(0, 120);
        tree->header()->resizeSection(1, 130);
        QVERIFY(!i(SM::sizeType, 90).Empty());
        tree->header()->resizeSection(2, 140);
        QVERIFY(i(SM::sizeType, 90).Empty());
    }

    void forgottenNameRecordsNothing()
    {
        auto tree = NewTree();
        sizeManager->RegisterTreeWidget("room_user_list", tree.get());
        sizeManager->ForgetTreeWidget("room_user_list");
        tree->header()->resizeSection(0, 77);
        QVERIFY(g(SM::treeType).Empty());
        QVERIFY(i(SM::sizeType, 77).Empty());

        FakeWindow window({1, 2, 3, 4});
        sizeManager->RegisterResizableWindow("main_window", &window);
        ItemPtr(d.GetType(SM::windowType)->HasItem(Value("main_window"))).Remove();
        emit window.WindowMoved(77, 78);
        QVERIFY(i(SM::xType, 77).Empty());
    }
};

QTEST_MAIN(ShellSizesTest)
#include "tst_sizes.moc"
