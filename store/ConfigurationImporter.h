#pragma once

#include <QString>

// Brings the user list of the network's older desktop client into this client's user list.
class ConfigurationImporter
{
public:
    // Reads the whole file first: false, with the store untouched, when it cannot be opened or
    // is malformed. Users already in the user list keep their entry and its groups.
    static bool ImportUserList(const QString& path);
};
