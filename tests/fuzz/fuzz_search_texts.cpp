// Text as a peer relays a search or as a user types a filter: parsed by the query and filter
// languages, then matched against itself.

#include <QString>

#include "FilterParser.h"
#include "FuzzTarget.h"
#include "SearchParser.h"

namespace FuzzTarget {
std::vector<QByteArray> Seeds()
{
    return {"blue river",
            "-live *remaster \"blue river\" 42",
            "\"ab\"cd -",
            "*love",
            "mfs:10 minbr:192 isvbr -live word",
            "mff:3 iscbr cbr vbr mbr:x",
            "\xC3\xA9t\xC3\xA9"};
}
} // namespace FuzzTarget

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));
    SearchParser query;
    query.SetSearchText(text);
    query.IsMatch(text);
    FilterParser filter, remainder;
    filter.Parse(text);
    filter.IsMatching(text, &remainder, ItemPtr());
    remainder.IsMatching(text, nullptr, ItemPtr());
    return 0;
}
