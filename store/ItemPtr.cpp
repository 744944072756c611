#include "ItemPtr.h"

#include <QByteArray>

#include "Data.h"
#include "ExtendedAsciiTranslator.h"

namespace {
QByteArray Digits(Item* item)
{
    const std::string& bytes = item->value.Bytes();
    return QByteArray(bytes.data(), static_cast<int>(bytes.size()));
}
} // namespace

ItemPtr ItemPtr::operator[](const char* type) const
{
    return item ? item->HasItem(type) : ItemPtr();
}

ItemPtr ItemPtr::HasItem(const char* type) const
{
    return item ? item->HasItem(type) : ItemPtr();
}

ItemPtr ItemPtr::GetItem(const char* type) const
{
    return item->HasItem(type);
}

ItemSet ItemPtr::GetItems(const char* type) const
{
    ItemSet found;
    if (item)
        item->GetItems(type, found);
    return found;
}

void ItemPtr::GetItems(const char* type, ItemSet& into) const
{
    if (!item)
    {
        into.Clear();
        return;
    }
    item->GetItems(type, into);
}

std::string ItemPtr::AsStdString() const
{
    return item ? item->value.Bytes() : std::string();
}

QString ItemPtr::AsString() const
{
    return item ? ToQString(item->value.Bytes()) : QString();
}

int ItemPtr::AsInt() const
{
    return item ? Digits(item).toInt(nullptr, 10) : 0;
}

unsigned int ItemPtr::AsUInt() const
{
    return item ? Digits(item).toUInt(nullptr, 10) : 0;
}

long long ItemPtr::AsInt64() const
{
    return item ? Digits(item).toLongLong(nullptr, 10) : 0;
}

unsigned long long ItemPtr::AsUInt64() const
{
    return item ? Digits(item).toULongLong(nullptr, 10) : 0;
}

Value ItemPtr::GetValue() const
{
    return item->value;
}

Type* ItemPtr::GetType() const
{
    return item->type;
}

// Reading through a null handle gives false, so that lookups may be chained.
bool ItemPtr::IsConnected(ItemPtr other) const
{
    return item && other.item && item->IsConnected(other.item);
}

bool ItemPtr::IsConnected(const char* type) const
{
    return item && item->IsConnected(item->type->data->GetType(type));
}

bool ItemPtr::IsConnected(Type* type) const
{
    return item && item->IsConnected(type);
}

bool ItemPtr::IsDisconnectedFromAll() const
{
    return item->connections.Empty();
}

ItemPtr ItemPtr::Connect(ItemPtr other) const
{
    item->Connect(other.item);
    return other;
}

void ItemPtr::Disconnect(ItemPtr other) const
{
    item->Disconnect(other.item);
}

ItemPtr ItemPtr::operator-=(ItemPtr other) const
{
    item->Disconnect(other.item);
    return other;
}

void ItemPtr::Disconnect(const char* type) const
{
    item->Disconnect(type);
}

ItemPtr ItemPtr::NewItem(const char* type) const
{
    return item->NewItem(type);
}

void ItemPtr::Remove() const
{
    item->Remove();
}
