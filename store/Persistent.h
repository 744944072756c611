#pragma once

class InputStream;
class OutputStream;

// Records that read themselves from a stream. Not deletable through this
// interface, hence the protected destructor.
class StreamReadable
{
public:
    virtual bool Read(InputStream& stream) = 0;

protected:
    ~StreamReadable() = default;
};

// Records that write themselves to a stream.
class StreamWritable
{
public:
    virtual bool Write(OutputStream& stream) const = 0;

protected:
    ~StreamWritable() = default;
};

// A record that can be both written to and read back from a stream.
class Persistent : public StreamReadable, public StreamWritable
{
protected:
    ~Persistent() = default;
};
