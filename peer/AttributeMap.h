#pragma once

#include <list>
#include <string>
#include <utility>

#include "Persistent.h"

// The audio attributes of a shared file: an extension and (code, value) pairs
// in the order they were added; a code may occur more than once.
class AttributeMap final : public Persistent
{
public:
    enum Code
    {
        Bitrate = 0,
        Length = 1,
        BitrateMode = 2,
    };

    bool Read(InputStream& stream) override;
    bool Write(OutputStream& stream) const override;

    std::string extension;
    std::list<std::pair<int, int>> pairs;
};
