#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <set>
#include <string>
#include <type_traits>
#include <utility>

#include <QString>

class StreamReadable;

// Reads little-endian values from a byte source. Every typed read is built on
// ReadBuffer, returns false on a short or malformed stream and never throws.
class InputStream
{
public:
    // Largest byte-string length and container count a reader accepts; checked
    // before anything is allocated so that a hostile length cannot exhaust memory.
    static constexpr std::uint32_t MaxCount = 0x20000;

    virtual ~InputStream() = default;
    // Copies exactly length bytes and returns true, or returns false.
    virtual bool ReadBuffer(void* buffer, unsigned long length) = 0;

    template <class T>
    std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> &&
                         (sizeof(T) == 4 || sizeof(T) == 8),
                     bool>
    Read(T& value);
    bool Read(bool& value);
    // The value ends at its first NUL byte.
    bool Read(std::string& value);
    bool Read(QString& value);
    bool Read(StreamReadable& record);

    template <class First, class Second> bool Read(std::pair<First, Second>& value);
    // Containers are cleared first; on a failing element the ones read before it stay.
    template <class T> bool Read(std::list<T>& values);
    template <class T, class Less> bool Read(std::set<T, Less>& values);
    template <class Key, class T, class Less> bool Read(std::map<Key, T, Less>& values);

private:
    bool ReadCount(std::uint32_t& count);
    // Reads a count, then that many elements, handing each to add.
    template <class Element, class Add> bool ReadElements(Add add);
};

template <class T>
std::enable_if_t<
    std::is_integral_v<T> && !std::is_same_v<T, bool> && (sizeof(T) == 4 || sizeof(T) == 8), bool>
InputStream::Read(T& value)
{
    unsigned char bytes[sizeof(T)];
    if (!ReadBuffer(bytes, sizeof(bytes)))
        return false;
    std::make_unsigned_t<T> result = 0;
    for (std::size_t i = sizeof(T); i-- > 0;)
        result = static_cast<std::make_unsigned_t<T>>(result << 8) | bytes[i];
    value = static_cast<T>(result);
    return true;
}

template <class First, class Second> bool InputStream::Read(std::pair<First, Second>& value)
{
    return Read(value.first) && Read(value.second);
}

template <class Element, class Add> bool InputStream::ReadElements(Add add)
{
    std::uint32_t count = 0;
    if (!ReadCount(count))
        return false;
    for (std::uint32_t i = 0; i < count; ++i)
    {
        Element element{};
        if (!Read(element))
            return false;
        add(std::move(element));
    }
    return true;
}

template <class T> bool InputStream::Read(std::list<T>& values)
{
    values.clear();
    return ReadElements<T>([&values](T&& value) { values.push_back(std::move(value)); });
}

template <class T, class Less> bool InputStream::Read(std::set<T, Less>& values)
{
    values.clear();
    return ReadElements<T>([&values](T&& value) { values.insert(std::move(value)); });
}

template <class Key, class T, class Less> bool InputStream::Read(std::map<Key, T, Less>& values)
{
    values.clear();
    // A later entry with the same key replaces the earlier value.
    return ReadElements<std::pair<Key, T>>([&values](std::pair<Key, T>&& entry) {
        values[std::move(entry.first)] = std::move(entry.second);
    });
}
