#pragma once

#include "TabWidget.h"

// The tab widget of the chats view.
class RoomTabWidget : public TabWidget
{
    Q_OBJECT

public:
    explicit RoomTabWidget(QWidget* parent = nullptr);
};
