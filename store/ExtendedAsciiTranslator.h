#pragma once

#include <string>

#include <QString>

// Network and stored bytes as text: UTF-8 when the bytes are valid UTF-8,
// otherwise one byte per character through the 8-bit code page (Latin-1 while
// none is chosen). Text after a NUL byte is dropped.
QString ToQString(const std::string& bytes);
