#pragma once

#include <set>

#include "FileInfo.h"
#include "Persistent.h"

// The files of one folder, as a folder-contents reply carries them.
class SharedFolderInfo final : public Persistent
{
public:
    bool Read(InputStream& stream) override;
    bool Write(OutputStream& stream) const override;

    std::set<FileInfo> files;
};
