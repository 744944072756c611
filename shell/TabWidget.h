#pragma once

#include <QTabWidget>

// A tab widget whose tabs turn blue when something happens on a page the user is not looking
// at, and which, when a tab is opened, clears its mark and focuses the page's best-ranked
// widget.
class TabWidget : public QTabWidget
{
    Q_OBJECT

public:
    explicit TabWidget(QWidget* parent = nullptr);

    // Marks the tab holding the widget in every enclosing TabWidget where that tab is not the
    // current one; nested levels are marked independently.
    static void MarkTabActivity(QWidget* ip_widget);

public slots:
    void OnTabChanged(int i_index);
};
