#include "WishListSearcher.h"

#include <algorithm>
#include <climits>

#include <QStringList>

#include "Data.h"
#include "Log.h"
#include "Server.h"
#include "Settings.h"

WishListSearcher* wishListSearcher = nullptr;

namespace {
constexpr const char* logArea = "Wish List";
constexpr const char* searchIndex = "wish_list_search_index";
constexpr const char* waitPeriod = "wish_list_wait";
} // namespace

WishListSearcher::WishListSearcher(const char* itemType, const char* enabledType, QObject* parent)
    : QObject(parent), itemType(itemType), enabledType(enabledType)
{
    wishListSearcher = this;
    if (gp_server)
        connect(gp_server, &Server::WishListWait, this, &WishListSearcher::OnWishListWait);
    Settings::Set(searchIndex, Value(0), Settings::runtime);
    connect(&searchTimer, &QTimer::timeout, this, &WishListSearcher::OnSearchTimerTimeout);
}

WishListSearcher::~WishListSearcher()
{
    if (wishListSearcher == this)
        wishListSearcher = nullptr;
}

void WishListSearcher::OnWishListWait(uint seconds)
{
    Settings::Set(waitPeriod, Value(seconds), Settings::runtime);
    searchTimer.stop();
    // In 64 bits: a period of more than 24 days would wrap in an int of milliseconds.
    const qint64 interval = qint64(seconds) * 1000;
    Log(logArea, 1, QString("Wish list wait period set to %1 milliseconds").arg(interval));
    // A zero interval would fire on every pass of the event loop and flood the server.
    if (interval == 0)
        return;
    searchTimer.setInterval(int(std::min<qint64>(interval, INT_MAX)));
    searchTimer.setSingleShot(false);
    searchTimer.start();
}

void WishListSearcher::OnSearchTimerTimeout()
{
    const qint64 index = Settings::GetText(searchIndex, Settings::runtime).toInt();
    QStringList entries;
    Type* enabled = d.HasType(enabledType);
    Type* items = d.HasType(itemType);
    if (!enabled || !items)
        return;
    for (ItemPtr entry : items->GetItems())
        if (entry.IsConnected(enabled))
            entries << entry.AsString();
    if (entries.isEmpty())
        return;
    std::sort(entries.begin(), entries.end());
    const qint64 count = entries.size();
    const QString text = entries.at(int(index <= 0 ? 0 : index % count));
    if (gp_server)
        gp_server->FileSearch(text, true);
    Log(logArea, 1, QString("Sent wish list search: %1").arg(text));
    // Compared as unsigned, so that a negative index starts over too.
    const quint64 next = quint64(index + 1);
    Settings::Set(searchIndex, Value(next < quint64(count) ? int(next) : 0), Settings::runtime);
}
