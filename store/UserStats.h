#pragma once

#include <QMetaType>
#include <QtGlobal>

#include "Persistent.h"

// The statistics the server reports for a user: 20 bytes on the wire. Final, since Qt destroys
// its copies through the class itself.
class UserStats final : public Persistent
{
public:
    bool Read(InputStream& stream) override;
    bool Write(OutputStream& stream) const override;

    qint32 m_averageSpeed = 0;
    // Carried through unchanged; the client has no use for it.
    qint64 m_value64 = 0;
    qint32 m_sharedFileCount = 0;
    // Carried through unchanged; the client has no use for it.
    qint32 m_value32 = 0;
};

Q_DECLARE_METATYPE(UserStats)
