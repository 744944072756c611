#pragma once

#include <string>

#include <QObject>
#include <QTimer>

// Sends the enabled wish-list entries to the server as low-priority searches, one per period
// that the server sets, in the order of their texts.
class WishListSearcher : public QObject
{
    Q_OBJECT

public:
    // The entries are items of itemType, enabled while connected to enabledType's shared mark;
    // the main window declares both.
    WishListSearcher(const char* itemType, const char* enabledType, QObject* parent = nullptr);
    ~WishListSearcher() override;

    const QTimer& SearchTimer() const { return searchTimer; }

public slots:
    void OnWishListWait(uint seconds);
    void OnSearchTimerTimeout();

private:
    const std::string itemType;
    const std::string enabledType;
    QTimer searchTimer;
};

extern WishListSearcher* wishListSearcher;
