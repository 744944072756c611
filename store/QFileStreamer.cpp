#include "QFileStreamer.h"

#include <limits>

#include <QFile>

namespace {
bool FitsFileOffset(unsigned long length)
{
    return length <= static_cast<unsigned long>(std::numeric_limits<qint64>::max());
}
} // namespace

QFileStreamer::QFileStreamer(QFile& file) : mp_file(&file)
{}

QFileStreamer::~QFileStreamer() = default;

bool QFileStreamer::ReadBuffer(void* buffer, unsigned long length)
{
    if (!FitsFileOffset(length))
        return false;
    const auto wanted = static_cast<qint64>(length);
    return mp_file->read(static_cast<char*>(buffer), wanted) == wanted;
}

bool QFileStreamer::WriteBuffer(const void* buffer, unsigned long length)
{
    if (!FitsFileOffset(length))
        return false;
    const auto wanted = static_cast<qint64>(length);
    return mp_file->write(static_cast<const char*>(buffer), wanted) == wanted;
}
