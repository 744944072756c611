#include "MemStream.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include <QtGlobal>

MemStream::MemStream() : mp_buffer(new Buffer)
{}

MemStream::~MemStream() = default;

bool MemStream::ReadBuffer(void* buffer, unsigned long length)
{
    if (length > static_cast<unsigned long>(GetPendingReadLength()))
        return false;
    if (length == 0)
        return true;
    std::memcpy(buffer, mp_buffer->mp_data.get() + mp_buffer->m_readIndex, length);
    mp_buffer->m_readIndex += static_cast<int>(length);
    return true;
}

bool MemStream::WriteBuffer(const void* buffer, unsigned long length)
{
    if (length == 0)
        return true;
    Buffer& data = *mp_buffer;
    // The capacity must stay above writeIndex + length and still fit an int.
    if (length >= static_cast<unsigned long>(INT_MAX - data.m_writeIndex))
        return false;
    const long long end = data.m_writeIndex + static_cast<long long>(length);
    if (data.m_bufferSize <= end)
    {
        long long size = data.m_bufferSize;
        while (size <= end)
            size *= 2;
        size = std::min<long long>(size, INT_MAX);
        std::unique_ptr<char[]> grown(new char[size]);
        std::memcpy(grown.get(), data.mp_data.get(), data.m_writeIndex);
        data.mp_data = std::move(grown);
        data.m_bufferSize = static_cast<int>(size);
    }
    std::memcpy(data.mp_data.get() + data.m_writeIndex, buffer, length);
    data.m_writeIndex = static_cast<int>(end);
    return true;
}

int MemStream::GetPendingReadLength() const
{
    return mp_buffer->m_writeIndex - mp_buffer->m_readIndex;
}

int MemStream::GetBufferSize() const
{
    return mp_buffer->m_bufferSize;
}

const char* MemStream::GetWrittenData() const
{
    return mp_buffer->mp_data.get();
}

int MemStream::GetWrittenLength() const
{
    return mp_buffer->m_writeIndex;
}

const char* MemStream::GetReadBuffer() const
{
    return mp_buffer->mp_data.get() + mp_buffer->m_readIndex;
}

void MemStream::EnsureBufferCapacity(int size)
{
    Buffer& data = *mp_buffer;
    Q_ASSERT(data.m_writeIndex == 0);
    if (size <= data.m_bufferSize)
        return;
    data.mp_data.reset(new char[size]);
    data.m_bufferSize = size;
}

char* MemStream::GetWriteBuffer()
{
    return mp_buffer->mp_data.get() + mp_buffer->m_writeIndex;
}

void MemStream::AdvanceWriteIndex(int count)
{
    Buffer& data = *mp_buffer;
    Q_ASSERT(count >= 0 && count <= data.m_bufferSize - data.m_writeIndex);
    data.m_writeIndex += count;
}

void MemStream::Reset()
{
    mp_buffer->m_readIndex = 0;
    mp_buffer->m_writeIndex = 0;
}
