#pragma once

class QWidget;

// Brings the widget's window to the front, gives the widget the keyboard focus
// and shows every tab page that contains it, however deeply nested.
void FocusWidget(QWidget* widget);
