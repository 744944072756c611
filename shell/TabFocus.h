#pragma once

#include <vector>

class QTabWidget;
class QWidget;

// The dynamic property that ranks widgets for the focus when their tab is opened; higher wins,
// and only values above 0 can win.
extern const char* const tabFocusProperty; // "get_focus"

// A tab widget that holds a widget, and the index of the tab holding it.
struct EnclosingTab
{
    QTabWidget* tabs = nullptr;
    int index = -1;
};

// Every tab widget that holds the widget on one of its pages, however deeply, nearest first.
std::vector<EnclosingTab> EnclosingTabs(QWidget* widget);

// Ranks the widget, and gives it the focus now if it is visible.
void RegisterWidgetForTabFocus(QWidget* widget, int priority);
// Focuses the first visible widget, within the widget and its descendants, whose rank beats
// `best`; returns the highest rank seen, or `best`.
int FindWidgetFocusProperty(QWidget* widget, int best);
// Activates the widget's window, focuses it and opens every tab that holds it.
void FocusWidgetAndParents(QWidget* widget);
// The nearest tab widget holding the widget, with the tab's index in `index`; null, leaving
// `index` alone, when none does.
QTabWidget* GetWidgetTabWidget(QWidget* widget, int& index);
