#pragma once

#include <QList>
#include <QObject>
#include <QString>

class QSplitter;
class QTreeWidget;
class ResizableWindow;

// Remembers, across runs, the main window's place and size, each splitter's pane sizes and
// each tree's column widths, as saved store items keyed by a registration name. All live
// widgets of one name share one record and follow each other's changes.
class SizeManager : public QObject
{
    Q_OBJECT

public:
    static constexpr char windowType[] = "sizer_window";
    static constexpr char windowWidgetType[] = "sizer_window_widget";
    static constexpr char xType[] = "sizer_x";
    static constexpr char yType[] = "sizer_y";
    static constexpr char widthType[] = "sizer_width";
    static constexpr char heightType[] = "sizer_height";
    static constexpr char sizeType[] = "sizer_size";
    static constexpr char treeType[] = "sizer_tree";
    static constexpr char treeWidgetType[] = "sizer_tree_widget";
    static constexpr char treeColumnNumberType[] = "sizer_tree_column_number";
    static constexpr char treeColumnType[] = "sizer_tree_column";
    static constexpr char splitterType[] = "sizer_splitter";
    static constexpr char splitterWidgetType[] = "sizer_splitter_widget";
    static constexpr char splitterIndexNumberType[] = "sizer_splitter_index_number";
    static constexpr char splitterIndexType[] = "sizer_splitter_index";

    // Declares the item types, so it must exist before the saved store is loaded.
    explicit SizeManager(QObject* parent = nullptr);
    ~SizeManager() override;

    void RegisterResizableWindow(const QString& name, ResizableWindow* window);
    // `sizes` is recorded when nothing is stored; empty means the splitter's present sizes.
    void RegisterSplitter(const QString& name, QSplitter* splitter, QList<int> sizes);
    void RegisterTreeWidget(const QString& name, QTreeWidget* tree);
    // Drops the name's record; its columns go with the next removal of unreachable items.
    void ForgetTreeWidget(const QString& name);

private slots:
    void OnWindowMoved(int i_x, int i_y);
    void OnWindowResized(int i_width, int i_height);
    void OnWindowDestroyed(QObject* ip_window);
    void OnSplitterMoved(int i_position, int i_index);
    void OnSplitterDestroyed(QObject* ip_splitter);
    void OnTreeColumnResizedMoved(int i_column, int i_oldSize, int i_newSize);
    void OnTreeDestroyed(QObject* ip_tree);

private:
    // Set while siblings are resized, so that their own resize signals are not recorded.
    bool busy = false;
};

extern SizeManager* sizeManager;
