#include "FilterParser.h"

#include <limits>

#include <QStringMatcher>

#include "Data.h"

namespace {
constexpr qint64 bytesPerMegabyte = 1000000;

// The row's attribute item, or null; a store that never declared the type has none.
ItemPtr Attribute(ItemPtr item, const char* type)
{
    if (!item->type)
        return ItemPtr();
    Type* attributeType = item->type->data->HasType(type);
    return attributeType ? item->HasItem(attributeType) : ItemPtr();
}

qint64 Megabytes(const QString& digits)
{
    const qint64 megabytes = digits.toLongLong(nullptr, 10);
    // Saturate rather than overflow: a huge minimum still means "bigger than anything".
    if (megabytes > std::numeric_limits<qint64>::max() / bytesPerMegabyte)
        return std::numeric_limits<qint64>::max();
    if (megabytes < std::numeric_limits<qint64>::min() / bytesPerMegabyte)
        return std::numeric_limits<qint64>::min();
    return megabytes * bytesPerMegabyte;
}

// Whether the text holds the word in any case. A long text (a hostile name may have hundreds of
// thousands of characters) is searched for a word of a few characters with skips, which pay for
// their table only there; a shorter word skips too little to gain.
bool HoldsWord(const QString& text, const QString& word)
{
    if (text.size() < 1000 || word.size() < 4)
        return text.contains(word, Qt::CaseInsensitive);
    return QStringMatcher(word, Qt::CaseInsensitive).indexIn(text) >= 0;
}

// The rest of the piece when it begins with one of the two spellings of a term.
bool TermValue(const QString& piece, const char* name, const char* shorthand, QString& value)
{
    for (const QLatin1String prefix : {QLatin1String(name), QLatin1String(shorthand)})
    {
        if (piece.startsWith(prefix))
        {
            value = piece.mid(prefix.size());
            return true;
        }
    }
    return false;
}
} // namespace

void FilterParser::Parse(const QString& text)
{
    const QStringList pieces = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& piece : pieces)
    {
        QString value;
        if (piece.startsWith('-'))
        {
            if (piece.size() >= 2)
                excludedWords << piece.mid(1);
        }
        else if (piece == QLatin1String("isvbr"))
        {
            vbrOnly = true;
            hasAttributes = true;
        }
        else if (piece == QLatin1String("iscbr"))
        {
            cbrOnly = true;
            hasAttributes = true;
        }
        else if (TermValue(piece, "minbitrate:", "mbr:", value))
        {
            minBitrate = value.toInt(nullptr, 10);
            hasAttributes = true;
        }
        else if (TermValue(piece, "minfilesize:", "mfs:", value))
        {
            minFileSize = Megabytes(value);
            hasAttributes = true;
        }
        else if (TermValue(piece, "minfilesinfolder:", "mfif:", value))
        {
            minFilesInFolder = value.toInt(nullptr, 10);
        }
        else
        {
            includedWords << piece;
        }
    }
}

bool FilterParser::AttributesMatch(ItemPtr item) const
{
    const QString mode = Attribute(item, "bitrate_mode").AsString();
    if (vbrOnly && mode != QLatin1String("vbr"))
        return false;
    if (cbrOnly && mode != QLatin1String("cbr"))
        return false;
    if (Attribute(item, "bitrate").AsInt() < minBitrate)
        return false;
    return Attribute(item, "file_size").AsInt64() >= minFileSize;
}

int FilterParser::IsMatching(const QString& text, FilterParser* remainder, ItemPtr item) const
{
    if (remainder)
    {
        remainder->includedWords.clear();
        remainder->excludedWords.clear();
    }
    if (!item.IsNull() && !AttributesMatch(item))
        return Rejected;
    if (remainder)
    {
        remainder->vbrOnly = vbrOnly;
        remainder->cbrOnly = cbrOnly;
        remainder->minBitrate = minBitrate;
        remainder->minFileSize = minFileSize;
        remainder->minFilesInFolder = minFilesInFolder;
        remainder->hasAttributes = hasAttributes;
    }
    for (const QString& word : excludedWords)
        if (HoldsWord(text, word))
            return Rejected;
    if (remainder)
        remainder->excludedWords = excludedWords;
    for (const QString& word : includedWords)
    {
        if (HoldsWord(text, word))
            continue;
        if (!remainder)
            return WordsMissing;
        remainder->includedWords << word;
    }
    return remainder && !remainder->includedWords.isEmpty() ? WordsMissing : Matching;
}
