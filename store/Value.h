#pragma once

#include <cstdint>
#include <string>

class QString;

// An item's value: a byte string. Numbers are kept as decimal text, object
// addresses as the unsigned decimal text of the full pointer width.
class Value
{
public:
    Value() = default;
    Value(const char* text);
    Value(char* text) : Value(static_cast<const char*>(text)) {}
    Value(const QString& text);
    Value(const std::string& bytes) : bytes(bytes) {}
    Value(std::string&& bytes) : bytes(std::move(bytes)) {}
    Value(int number);
    Value(unsigned int number);
    Value(long number);
    Value(unsigned long number);
    Value(long long number);
    Value(unsigned long long number);
    template <class T>
    Value(T* object)
        : Value(static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(object)))
    {}

    const std::string& Bytes() const { return bytes; }
    operator const std::string&() const { return bytes; }
    bool Empty() const { return bytes.empty(); }

    // std::string compares as unsigned bytes, a shorter common prefix first.
    bool operator<(const Value& other) const { return bytes < other.bytes; }
    bool operator==(const Value& other) const { return bytes == other.bytes; }
    bool operator!=(const Value& other) const { return bytes != other.bytes; }

private:
    std::string bytes;
};
