#pragma once

#include <QString>
#include <QStringList>

#include "ItemPtr.h"

// The filter typed above a file tree: words the row's text must hold, "-words" it must not hold,
// and terms on a file's bit rate, bit-rate mode and size and on a folder's number of files.
class FilterParser
{
public:
    // Verdicts of IsMatching.
    enum Verdict
    {
        Matching = 0,
        WordsMissing = 1,
        Rejected = 2
    };

    FilterParser() = default;

    // Appends words and overwrites the terms; any text is a valid filter.
    void Parse(const QString& text);
    // The row's verdict. With a remainder, words missing from this text are left in it for the
    // rows below; the item, when given, is a file row whose attributes are tested.
    int IsMatching(const QString& text, FilterParser* remainder, ItemPtr item) const;
    bool HasAttributes() const { return hasAttributes; }
    int MinFilesInFolder() const { return minFilesInFolder; }

private:
    bool AttributesMatch(ItemPtr item) const;

    QStringList includedWords;
    QStringList excludedWords;
    int minBitrate = 0;
    bool vbrOnly = false;
    bool cbrOnly = false;
    qint64 minFileSize = 0;
    int minFilesInFolder = 0;
    bool hasAttributes = false;
};
