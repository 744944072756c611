#pragma once

#include <cstdint>
#include <map>

#include <QString>

#include "Persistent.h"
#include "SharedFolderInfo.h"

// The inflated body of a folder-contents reply: the request's token and
// folder, then each folder named with its files.
class FolderContentsBody final : public Persistent
{
public:
    bool Read(InputStream& stream) override;
    bool Write(OutputStream& stream) const override;

    std::uint32_t token = 0;
    QString requestedFolder;
    std::map<QString, SharedFolderInfo> folders;
};
