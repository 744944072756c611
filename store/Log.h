#pragma once

#include <functional>

#include <QString>

#include "ItemPtr.h"

// Setting keys of the logging, written once.
namespace LogSettings {
constexpr const char* showDiagnostics = "show_diagnostics";
constexpr const char* userLevelLogging = "user_level_logging";
} // namespace LogSettings

// Reports what the program does, by area ("server", "Configuration Data", ...)
// and level (1 to 3, deeper levels indented). Does nothing unless the setting
// show_diagnostics is "yes" and a log window has registered as the sink. Doing
// nothing costs one test of a cached flag, so hot paths may log freely; the
// second overload spares literal-only calls the building of two strings.
void Log(const QString& area, int level, const QString& text, ItemPtr item = ItemPtr());
void Log(const char* area, int level, const char* text, ItemPtr item = ItemPtr());

// Whether a line logged now would go anywhere: callers whose text is costly to
// build may test it first.
bool LogEnabled();

using LogSink =
    std::function<void(const QString& area, int level, const QString& text, ItemPtr item)>;
// The diagnostics window registers here; an empty sink unregisters it. While a
// sink is registered the cached flag follows show_diagnostics in the store `d`,
// whose setting types must then be declared already.
void SetLogSink(LogSink sink);
