#pragma once

#include <QtGlobal>

// A reference-counted handle: every copy shares the object, and the last copy
// to go deletes it. The count is a plain integer, so all copies of one handle
// must stay on one thread: what a worker hands back goes as a QByteArray.
template <class T> class rcptr
{
public:
    rcptr() = default;
    explicit rcptr(T* object) : mp_object(object), mp_count(object ? new int(1) : nullptr) {}
    rcptr(const rcptr& other) : mp_object(other.mp_object), mp_count(other.mp_count) { Share(); }
    ~rcptr() { Release(); }

    rcptr& operator=(const rcptr& other)
    {
        if (mp_object == other.mp_object)
            return *this;
        Release();
        mp_object = other.mp_object;
        mp_count = other.mp_count;
        Share();
        return *this;
    }

    T* operator->() const
    {
        Q_ASSERT(mp_object != nullptr);
        return mp_object;
    }
    T& operator*() const
    {
        Q_ASSERT(mp_object != nullptr);
        return *mp_object;
    }
    T* Get() const { return mp_object; }

private:
    void Share()
    {
        if (mp_count)
            ++*mp_count;
    }

    void Release()
    {
        if (mp_count && --*mp_count == 0)
        {
            delete mp_object;
            delete mp_count;
        }
        mp_object = nullptr;
        mp_count = nullptr;
    }

    T* mp_object = nullptr;
    int* mp_count = nullptr;
};
