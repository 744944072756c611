#pragma once

#include <set>

#include <QString>

// Reads a file-search query into included words, part words ("*word") and excluded words
// ("-word"), quoted phrases counting as one word, and tests texts against them. One parser serves
// one query.
class SearchParser
{
public:
    using TokenSet = std::set<QString>;

    // Adds the query's words to the sets; false when the query is unusable.
    bool SetSearchText(const QString& text);
    bool Tokenize(const QString& text);
    bool IsMatch(const QString& text) const;

    const TokenSet& GetIncludedTokenSet() const { return includedTokens; }
    const TokenSet& GetIncludedPartTokenSet() const { return includedPartTokens; }
    const TokenSet& GetExcludedTokenSet() const { return excludedTokens; }

    // The only characters that separate words: space and tab.
    static const char* Whitespace();

private:
    TokenSet includedTokens;
    TokenSet includedPartTokens;
    TokenSet excludedTokens;
};
