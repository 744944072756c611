#pragma once

#include <memory>

#include "InputStream.h"
#include "OutputStream.h"
#include "rcptr.h"

// An in-memory message body, written while it is built and read while it is
// taken apart. Copies share one buffer: they see the same bytes and move the
// same two indices, so a stream passed by value is consumed for the caller too.
class MemStream : public virtual InputStream, public virtual OutputStream
{
public:
    MemStream();
    ~MemStream() override;

    // Fails without consuming anything when fewer than length bytes are pending.
    bool ReadBuffer(void* buffer, unsigned long length) override;
    // Fails only when the stream would pass the largest size an int index can hold.
    bool WriteBuffer(const void* buffer, unsigned long length) override;

    int GetPendingReadLength() const;
    int GetBufferSize() const;
    // Everything written so far, read or not.
    const char* GetWrittenData() const;
    int GetWrittenLength() const;
    // The unread bytes, GetPendingReadLength() of them, contiguous.
    const char* GetReadBuffer() const;

    // Receiving in place: size the empty stream once, let the caller fill
    // GetWriteBuffer() directly, then account for the bytes placed there.
    void EnsureBufferCapacity(int size);
    char* GetWriteBuffer();
    void AdvanceWriteIndex(int count);

    // Empties the stream for the next message, keeping the allocated capacity.
    void Reset();

private:
    struct Buffer
    {
        static constexpr int InitialSize = 256;

        int m_readIndex = 0;
        int m_writeIndex = 0;
        int m_bufferSize = InitialSize;
        std::unique_ptr<char[]> mp_data{new char[InitialSize]};
    };

    rcptr<Buffer> mp_buffer;
};
