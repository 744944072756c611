#pragma once

#include <functional>

#include <QString>

#include "ItemPtr.h"

// Reports what the program does, by area ("server", "Configuration Data", ...)
// and level (1 to 3, deeper levels indented). Does nothing unless the setting
// show_diagnostics is "yes" and a log window has registered as the sink.
void Log(const QString& area, int level, const QString& text, ItemPtr item = ItemPtr());

using LogSink =
    std::function<void(const QString& area, int level, const QString& text, ItemPtr item)>;
// The diagnostics window registers here; an empty sink unregisters it.
void SetLogSink(LogSink sink);
