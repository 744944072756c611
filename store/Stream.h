#pragma once

#include "InputStream.h"
#include "OutputStream.h"

// The base of streams on external media, which both read and write.
class Stream : public InputStream, public OutputStream
{
public:
    ~Stream() override = default;
};
