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

class StreamWritable;

// Writes little-endian values to a byte sink; the encodings mirror InputStream.
// Every write returns false when the sink refuses bytes.
class OutputStream
{
public:
    virtual ~OutputStream() = default;
    // Appends exactly length bytes and returns true, or returns false.
    virtual bool WriteBuffer(const void* buffer, unsigned long length) = 0;

    template <class T>
    std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> &&
                         (sizeof(T) == 4 || sizeof(T) == 8),
                     bool>
    Write(T value);
    bool Write(bool value);
    bool Write(const std::string& value);
    // Written as UTF-8 up to the first U+0000.
    bool Write(const QString& value);
    bool Write(const StreamWritable& record);
    // A literal would otherwise silently convert to bool; say std::string or QString.
    bool Write(const char*) = delete;

    template <class First, class Second> bool Write(const std::pair<First, Second>& value);
    template <class T> bool Write(const std::list<T>& values);
    template <class T, class Less> bool Write(const std::set<T, Less>& values);
    template <class Key, class T, class Less> bool Write(const std::map<Key, T, Less>& values);

private:
    bool WriteCount(std::size_t count);
    // Writes the count, then every element (a map's entry as key, then value).
    template <class Container> bool WriteElements(const Container& values);
};

template <class T>
std::enable_if_t<
    std::is_integral_v<T> && !std::is_same_v<T, bool> && (sizeof(T) == 4 || sizeof(T) == 8), bool>
OutputStream::Write(T value)
{
    unsigned char bytes[sizeof(T)];
    auto bits = static_cast<std::make_unsigned_t<T>>(value);
    for (unsigned char& byte : bytes)
    {
        byte = static_cast<unsigned char>(bits & 0xff);
        bits = static_cast<std::make_unsigned_t<T>>(bits >> 8);
    }
    return WriteBuffer(bytes, sizeof(bytes));
}

template <class First, class Second> bool OutputStream::Write(const std::pair<First, Second>& value)
{
    return Write(value.first) && Write(value.second);
}

template <class Container> bool OutputStream::WriteElements(const Container& values)
{
    if (!WriteCount(values.size()))
        return false;
    for (const auto& value : values)
        if (!Write(value))
            return false;
    return true;
}

template <class T> bool OutputStream::Write(const std::list<T>& values)
{
    return WriteElements(values);
}

template <class T, class Less> bool OutputStream::Write(const std::set<T, Less>& values)
{
    return WriteElements(values);
}

template <class Key, class T, class Less>
bool OutputStream::Write(const std::map<Key, T, Less>& values)
{
    return WriteElements(values);
}
