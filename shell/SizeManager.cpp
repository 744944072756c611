#include "SizeManager.h"

#include <vector>

#include <QHeaderView>
#include <QSplitter>
#include <QTreeWidget>

#include "Data.h"
#include "DataSaver.h"
#include "ResizableWindow.h"

SizeManager* sizeManager = nullptr;

namespace {
// Live objects are tied to their names through link items valued with the object's address.
// The address is always taken as QObject*, so every kind of pointer to one object gives the
// same value.
Value AddressOf(QObject* object)
{
    return Value(object);
}

ItemPtr LinkOf(const char* linkType, QObject* object)
{
    return d.GetType(linkType)->HasItem(AddressOf(object));
}

// The name item the object is registered under, or null when the object was never
// registered or its name's record has since been forgotten.
ItemPtr NameOf(const char* linkType, const char* nameType, QObject* object)
{
    return LinkOf(linkType, object)[nameType];
}

void Link(ItemPtr name, const char* linkType, QObject* object)
{
    name.Connect(d.GetType(linkType)->GetItem(AddressOf(object)));
}

// A link item lives no longer than its object, so the addresses read here are of live objects.
template <class T>
std::vector<T*> LinkedObjects(ItemPtr name, const char* linkType, QObject* except)
{
    std::vector<T*> objects;
    name.GetItems(linkType).ForEach([&](ItemPtr link) {
        QObject* object = link.AsPointer<QObject>();
        if (object == except)
            return;
        if (T* linked = qobject_cast<T*>(object))
            objects.push_back(linked);
    });
    return objects;
}

void Unlink(const char* linkType, QObject* object)
{
    if (ItemPtr link = LinkOf(linkType, object))
        link.Remove();
}

// Connects the holder to the value item for the number; the value item it held before goes
// when nothing else holds it, since value items are shared by everything of that size.
void Record(ItemPtr holder, const char* valueType, int number)
{
    const ItemPtr old = holder[valueType];
    const ItemPtr fresh = d.GetType(valueType)->GetItem(Value(number));
    holder.Connect(fresh);
    if (!old.IsNull() && old != fresh && old.IsDisconnectedFromAll())
        old.Remove();
}

ItemPtr NewPart(ItemPtr name, const char* partType, const char* numberType, int index)
{
    const ItemPtr part = d.GetType(partType)->NewItem();
    part.Connect(name);
    part.Connect(d.GetType(numberType)->GetItem(Value(index)));
    return part;
}

// The column or pane item of the name with that index, made when there is none.
ItemPtr PartOf(ItemPtr name, const char* partType, const char* numberType, int index)
{
    const ItemPtr number = d.GetType(numberType)->HasItem(Value(index));
    const ItemPtr part = number.IsNull() ? ItemPtr() : d.GetItem(name, number, partType);
    return part.IsNull() ? NewPart(name, partType, numberType, index) : part;
}

// A stretched last section follows the tree's width, so its size is not the user's choice.
int RecordedColumns(const QHeaderView* header)
{
    return header->stretchLastSection() ? header->count() - 1 : header->count();
}

void DeclareTypes()
{
    using SM = SizeManager;
    Type* window = d.NewType(SM::windowType, PrimacyRoot, false, true);
    Type* windowWidget = d.NewType(SM::windowWidgetType, PrimacyRoot, false, true);
    Type* x = d.NewType(SM::xType, PrimacyLeaf, false, true);
    Type* y = d.NewType(SM::yType, PrimacyLeaf, false, true);
    Type* width = d.NewType(SM::widthType, PrimacyLeaf, false, true);
    Type* height = d.NewType(SM::heightType, PrimacyLeaf, false, true);
    Type* size = d.NewType(SM::sizeType, PrimacyLeaf, false, true);
    Type* tree = d.NewType(SM::treeType, PrimacyRoot, false, true);
    Type* treeWidget = d.NewType(SM::treeWidgetType, PrimacyRoot, false, true);
    Type* columnNumber = d.NewType(SM::treeColumnNumberType, PrimacyLeaf, false, true);
    Type* column = d.NewType(SM::treeColumnType, PrimacyIntermediate, true, true);
    Type* splitter = d.NewType(SM::splitterType, PrimacyRoot, false, true);
    Type* splitterWidget = d.NewType(SM::splitterWidgetType, PrimacyRoot, false, true);
    Type* paneNumber = d.NewType(SM::splitterIndexNumberType, PrimacyLeaf, false, true);
    Type* pane = d.NewType(SM::splitterIndexType, PrimacyIntermediate, true, true);

    window->RelateToType(windowWidget, One, One, false);
    for (Type* value : {x, y, width, height})
        window->RelateToType(value, Many, One, false);
    tree->RelateToType(treeWidget, One, Many, false);
    column->RelateToType(tree, Many, One, false);
    column->RelateToType(columnNumber, Many, One, false);
    column->RelateToType(size, Many, One, false);
    splitter->RelateToType(splitterWidget, One, Many, false);
    pane->RelateToType(splitter, Many, One, false);
    pane->RelateToType(paneNumber, Many, One, false);
    pane->RelateToType(size, Many, One, false);

    if (!dataSaver)
        return;
    for (const char* saved :
         {SM::windowType, SM::treeType, SM::treeColumnNumberType, SM::treeColumnType,
          SM::splitterType, SM::splitterIndexNumberType, SM::splitterIndexType, SM::xType,
          SM::yType, SM::widthType, SM::heightType, SM::sizeType})
        dataSaver->AddSavedType(saved);
}
} // namespace

SizeManager::SizeManager(QObject* parent) : QObject(parent)
{
    sizeManager = this;
    DeclareTypes();
}

SizeManager::~SizeManager()
{
    if (sizeManager == this)
        sizeManager = nullptr;
}

void SizeManager::RegisterResizableWindow(const QString& name, ResizableWindow* window)
{
    if (!window)
        return;
    Type* windows = d.GetType(windowType);
    ItemPtr stored = windows->HasItem(Value(name));
    if (stored)
    {
        window->SetPosition(stored[xType].AsInt(), stored[yType].AsInt());
        window->SetSize(stored[widthType].AsInt(), stored[heightType].AsInt());
    }
    else
    {
        stored = windows->GetItem(Value(name));
        Record(stored, xType, window->GetX());
        Record(stored, yType, window->GetY());
        Record(stored, widthType, window->GetWidth());
        Record(stored, heightType, window->GetHeight());
    }
    Link(stored, windowWidgetType, window);
    connect(window, &ResizableWindow::WindowMoved, this, &SizeManager::OnWindowMoved,
            Qt::UniqueConnection);
    connect(window, &ResizableWindow::WindowResized, this, &SizeManager::OnWindowResized,
            Qt::UniqueConnection);
    connect(window, &QObject::destroyed, this, &SizeManager::OnWindowDestroyed,
            Qt::UniqueConnection);
}

void SizeManager::RegisterSplitter(const QString& name, QSplitter* splitter, QList<int> sizes)
{
    if (!splitter)
        return;
    Type* splitters = d.GetType(splitterType);
    ItemPtr stored = splitters->HasItem(Value(name));
    if (stored)
    {
        QList<int> storedSizes;
        for (ItemPtr pane :
             stored.GetItems(splitterIndexType).SortNumericBy(splitterIndexNumberType, true))
            storedSizes.append(pane[sizeType].AsInt());
        splitter->setSizes(storedSizes);
    }
    else
    {
        stored = splitters->GetItem(Value(name));
        if (sizes.isEmpty())
            sizes = splitter->sizes();
        for (int index = 0; index < sizes.size(); ++index)
            Record(NewPart(stored, splitterIndexType, splitterIndexNumberType, index), sizeType,
                   sizes[index]);
    }
    Link(stored, splitterWidgetType, splitter);
    connect(splitter, &QSplitter::splitterMoved, this, &SizeManager::OnSplitterMoved,
            Qt::UniqueConnection);
    connect(splitter, &QObject::destroyed, this, &SizeManager::OnSplitterDestroyed,
            Qt::UniqueConnection);
}

void SizeManager::RegisterTreeWidget(const QString& name, QTreeWidget* tree)
{
    if (!tree)
        return;
    QHeaderView* header = tree->header();
    Type* trees = d.GetType(treeType);
    ItemPtr stored = trees->HasItem(Value(name));
    if (stored)
    {
        // Out-of-range columns are ignored by the header.
        stored.GetItems(treeColumnType).ForEach([header](ItemPtr column) {
            header->resizeSection(column[treeColumnNumberType].AsInt(), column[sizeType].AsInt());
        });
    }
    else
    {
        stored = trees->GetItem(Value(name));
        for (int column = 0; column < RecordedColumns(header); ++column)
            Record(NewPart(stored, treeColumnType, treeColumnNumberType, column), sizeType,
                   header->sectionSize(column));
    }
    // Connected only now, so that restoring the widths records nothing.
    Link(stored, treeWidgetType, tree);
    connect(header, &QHeaderView::sectionResized, this, &SizeManager::OnTreeColumnResizedMoved,
            Qt::UniqueConnection);
    connect(tree, &QObject::destroyed, this, &SizeManager::OnTreeDestroyed, Qt::UniqueConnection);
}

void SizeManager::ForgetTreeWidget(const QString& name)
{
    if (ItemPtr stored = d.GetType(treeType)->HasItem(Value(name)))
        stored.Remove();
}

void SizeManager::OnWindowMoved(int i_x, int i_y)
{
    const ItemPtr stored = NameOf(windowWidgetType, windowType, sender());
    if (stored.IsNull())
        return;
    Record(stored, xType, i_x);
    Record(stored, yType, i_y);
}

void SizeManager::OnWindowResized(int i_width, int i_height)
{
    const ItemPtr stored = NameOf(windowWidgetType, windowType, sender());
    if (stored.IsNull())
        return;
    Record(stored, widthType, i_width);
    Record(stored, heightType, i_height);
}

void SizeManager::OnWindowDestroyed(QObject* ip_window)
{
    Unlink(windowWidgetType, ip_window);
}

void SizeManager::OnSplitterMoved(int, int)
{
    if (busy)
        return;
    auto* splitter = qobject_cast<QSplitter*>(sender());
    const ItemPtr stored = NameOf(splitterWidgetType, splitterType, splitter);
    if (!splitter || stored.IsNull())
        return;
    const QList<int> sizes = splitter->sizes();
    for (int index = 0; index < sizes.size(); ++index)
        Record(PartOf(stored, splitterIndexType, splitterIndexNumberType, index), sizeType,
               sizes[index]);
    busy = true;
    for (QSplitter* sibling : LinkedObjects<QSplitter>(stored, splitterWidgetType, splitter))
        sibling->setSizes(sizes);
    busy = false;
}

void SizeManager::OnSplitterDestroyed(QObject* ip_splitter)
{
    Unlink(splitterWidgetType, ip_splitter);
}

void SizeManager::OnTreeColumnResizedMoved(int, int, int)
{
    if (busy)
        return;
    auto* header = qobject_cast<QHeaderView*>(sender());
    // A tree being destroyed is no longer a QTreeWidget here, and records nothing.
    auto* tree = header ? qobject_cast<QTreeWidget*>(header->parentWidget()) : nullptr;
    const ItemPtr stored = NameOf(treeWidgetType, treeType, tree);
    if (!tree || stored.IsNull())
        return;
    const std::vector<QTreeWidget*> siblings =
        LinkedObjects<QTreeWidget>(stored, treeWidgetType, tree);
    busy = true;
    for (int column = 0; column < RecordedColumns(header); ++column)
    {
        const int size = header->sectionSize(column);
        Record(PartOf(stored, treeColumnType, treeColumnNumberType, column), sizeType, size);
        for (QTreeWidget* sibling : siblings)
            sibling->header()->resizeSection(column, size);
    }
    busy = false;
}

void SizeManager::OnTreeDestroyed(QObject* ip_tree)
{
    Unlink(treeWidgetType, ip_tree);
}
