#pragma once

#include <map>
#include <set>
#include <string>

#include "FileInfo.h"

// The folders of a share list, by path bytes, each with its files.
using FileInfoMap = std::map<std::string, std::set<FileInfo>>;
