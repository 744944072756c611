#pragma once

#include "Stream.h"

class QFile;

// Reads and writes a file that the caller opens, keeps open while streaming
// and closes; the streamer does not own it.
class QFileStreamer : public Stream
{
public:
    explicit QFileStreamer(QFile& file);
    ~QFileStreamer() override;

    bool ReadBuffer(void* buffer, unsigned long length) override;
    bool WriteBuffer(const void* buffer, unsigned long length) override;

private:
    QFile* mp_file;
};
