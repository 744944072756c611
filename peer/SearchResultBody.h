#pragma once

#include <cstdint>
#include <list>

#include <QString>

#include "AttributeTranslationTable.h"
#include "FileInfo.h"
#include "Persistent.h"

// The inflated body of a search-result message.
class SearchResultBody final : public Persistent
{
public:
    // Fails when the user, the token or a result cannot be read. The trailer
    // after the results is optional: fields that are missing read as 0.
    bool Read(InputStream& stream) override;
    bool Write(OutputStream& stream) const override;

    QString user;
    std::uint32_t token = 0;
    // In the order received, duplicates kept.
    std::list<FileInfo> results;
    bool freeSlot = false;
    std::uint32_t uploadSpeed = 0;
    std::uint32_t queuedUploads = 0;
    AttributeTranslationTable attributeNames;
};
