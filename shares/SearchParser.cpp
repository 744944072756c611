#include "SearchParser.h"

#include <QByteArray>

namespace {
bool IsWhitespace(char byte)
{
    return byte == ' ' || byte == '\t';
}
} // namespace

const char* SearchParser::Whitespace()
{
    return " \t";
}

bool SearchParser::SetSearchText(const QString& text)
{
    return Tokenize(text);
}

// Works on the UTF-8 bytes of the lowered text: every byte with a meaning here is below 0x80, so
// a multi-byte character is never split.
bool SearchParser::Tokenize(const QString& text)
{
    const QByteArray bytes = text.toLower().toUtf8();
    const int length = bytes.size();
    int position = 0;
    for (;;)
    {
        while (position < length && IsWhitespace(bytes[position]))
            ++position;
        if (position >= length)
            return !includedTokens.empty() || !includedPartTokens.empty();

        TokenSet* target = &includedTokens;
        if (bytes[position] == '-')
            target = &excludedTokens;
        else if (bytes[position] == '*')
            target = &includedPartTokens;
        if (target != &includedTokens)
            ++position;
        if (position >= length)
            return false;

        int start = position;
        int end = length;
        int next = length;
        if (bytes[position] == '"')
        {
            start = position + 1;
            const int closing = bytes.indexOf('"', start);
            if (closing >= 0)
            {
                end = closing;
                next = closing + 1;
            }
        }
        else
        {
            end = position;
            while (end < length && !IsWhitespace(bytes[end]))
                ++end;
            next = end;
        }

        const QString word = QString::fromUtf8(bytes.constData() + start, end - start);
        if (word.isEmpty() || word.contains('"'))
            return false;
        target->insert(word);
        position = next;
    }
}

bool SearchParser::IsMatch(const QString& text) const
{
    const QString lowered = text.toLower();
    for (const QString& word : includedTokens)
        if (!lowered.contains(word))
            return false;
    for (const QString& word : includedPartTokens)
        if (!lowered.contains(word))
            return false;
    for (const QString& word : excludedTokens)
        if (lowered.contains(word))
            return false;
    return true;
}
