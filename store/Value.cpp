#include "Value.h"

#include <QString>

Value::Value(const char* text) : bytes(text ? text : "")
{}

Value::Value(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    bytes.assign(utf8.constData(), qstrnlen(utf8.constData(), utf8.size()));
}

Value::Value(int number) : bytes(std::to_string(number))
{}

Value::Value(unsigned int number) : bytes(std::to_string(number))
{}

Value::Value(long number) : bytes(std::to_string(number))
{}

Value::Value(unsigned long number) : bytes(std::to_string(number))
{}

Value::Value(long long number) : bytes(std::to_string(number))
{}

Value::Value(unsigned long long number) : bytes(std::to_string(number))
{}
