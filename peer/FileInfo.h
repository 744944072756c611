#pragma once

#include <cstdint>
#include <string>

#include "AttributeMap.h"
#include "Persistent.h"

// One file of a share list, a search result or a folder's contents.
class FileInfo final : public Persistent
{
public:
    bool Read(InputStream& stream) override;
    bool Write(OutputStream& stream) const override;

    // By name bytes, then size: records with equal name and size are one file,
    // whatever their attributes.
    bool operator<(const FileInfo& other) const;

    // Raw bytes, passed back to the peer exactly as received.
    std::string name;
    std::int64_t size = 0;
    AttributeMap attributes;
};
