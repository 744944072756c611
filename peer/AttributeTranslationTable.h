#pragma once

#include <map>
#include <string>

// Attribute code to a name, as a share list may carry it.
using AttributeTranslationTable = std::map<int, std::string>;
