#pragma once

#include "AttributeTranslationTable.h"
#include "FileInfoMap.h"
#include "Persistent.h"

// The inflated body of a share-list message: every visible folder with its
// files, then the attribute-name table.
class ShareListBody final : public Persistent
{
public:
    // Fails only when the folders cannot be read; a missing or cut table is
    // read as an empty one, since older clients may leave it out.
    bool Read(InputStream& stream) override;
    bool Write(OutputStream& stream) const override;

    FileInfoMap folders;
    AttributeTranslationTable attributeNames;
};
