#pragma once

class QIcon;

// The icon of a resource path, built once: views with thousands of rows would otherwise look
// the file up for every row.
const QIcon& CachedIcon(const char* path);
