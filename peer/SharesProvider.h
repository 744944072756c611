#pragma once

#include <QString>

#include "MemStream.h"

// What the messenger asks of the shares manager: the complete share-list message (code and
// compressed body) that a user may see, or an empty stream when none can be sent now (a provider
// that builds the list later sends it itself). Folder contents go the other way, by the
// messenger's SharedFilesInFolderRequested signal.
class SharesProvider
{
public:
    virtual MemStream GetSharedFilesMessage(const QString& user) = 0;

protected:
    ~SharesProvider() = default;
};
