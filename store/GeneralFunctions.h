#pragma once

#include <string>

#include <QString>

// Paths may use either separator; the path functions treat '/' and '\' alike unless noted.
// std::string arguments are byte strings, cut and compared byte by byte.

// Position 1 is the least significant bit; positions outside 1 to 32 give false.
bool GetBit(unsigned int value, int position);
// Replaced text is never searched again; an empty from leaves the text as it is.
std::string StringReplace(std::string text, const std::string& from, const std::string& to);

// Index of the first (last) character of text that is one of chars, at or after (at or
// before) from; -1 when none. For findLastOf, from -1 means the end of text.
int findFirstOf(const QString& text, const QString& chars, int from = 0);
int findLastOf(const QString& text, const QString& chars, int from = -1);

// "Music\Rock\Album" becomes "Album/Rock/Music"; empty components are dropped.
QString ReversePathname(QString path);
// 1234567 becomes "1,234,567"; 0 and negative numbers give an empty string.
QString CommafyNumber(long long number);
// Makes http and https addresses in already escaped chat text into links.
QString ConvertLinks(const QString& text);
// Escapes &, < and >; quotes are left alone.
QString EscapeHTML(QString text);
// The local date and time in Qt's text date format. Made once a second: converting to local
// time makes the C library look at the time zone file on every call, which floods of status
// messages or log lines would otherwise spend most of their time on.
QString CurrentLocalTimeText();

// Lower-cased bytes after the last '.' of the whole path, not only of the last component.
std::string GetFileExtension(const std::string& path);
// These drop one trailing separator before splitting at the last one.
std::string GetFileName(const std::string& path);
std::string GetFolder(const std::string& path);
// Drops every trailing backslash (but not slash), then takes the folder.
std::string GetParentFolder(const std::string& path);

// A name chosen by someone else as one line of bounded length, for a tree cell, a list or a title:
// at most maxShownNameLength characters, cut in the middle on whole characters with an ellipsis
// (long names often differ only at their ends); control characters, line and paragraph
// separators and direction controls become visible marks, so that a name can neither make a row
// taller nor read backwards. The whole name stays wherever the program uses it.
constexpr int maxShownNameLength = 256;
QString ShownName(const QString& name);

// 3725 becomes "1h2m5s"; minutes and seconds are always written.
QString FormatSeconds(long seconds);

// Gives the pages of freed heap blocks back to the system, in every thread's arena: a block freed
// on another thread than the one that made it returns to the maker's arena, where it stays
// resident until that arena's top is free. For after a burst of short-lived bulk data; does
// nothing where the C library does not offer it.
void ReleaseFreedMemory();
