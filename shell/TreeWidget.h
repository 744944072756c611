#pragma once

#include <QTreeWidget>

class QKeyEvent;

// A tree list that shows its owner every key press before handling it itself.
class TreeWidget : public QTreeWidget
{
    Q_OBJECT

public:
    explicit TreeWidget(QWidget* parent = nullptr);

signals:
    // Receivers see the event first but cannot stop the list's own handling.
    void KeyPressed(QKeyEvent* ip_event);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
