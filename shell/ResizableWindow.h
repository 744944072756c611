#pragma once

#include <QObject>

// What a window offers the size manager so that its place and size are remembered. Values are
// pixels of the window's geometry without its frame.
class ResizableWindow : public QObject
{
    Q_OBJECT

public:
    explicit ResizableWindow(QObject* parent = nullptr) : QObject(parent) {}

    virtual int GetX() = 0;
    virtual int GetY() = 0;
    virtual int GetWidth() = 0;
    virtual int GetHeight() = 0;
    // Each keeps the other pair of values as it is.
    virtual void SetPosition(int x, int y) = 0;
    virtual void SetSize(int width, int height) = 0;

signals:
    void WindowMoved(int i_x, int i_y);
    void WindowResized(int i_width, int i_height);
};
