#include "Log.h"

#include "Settings.h"

namespace {
LogSink& Sink()
{
    static LogSink sink;
    return sink;
}
} // namespace

void Log(const QString& area, int level, const QString& text, ItemPtr item)
{
    // Callers log on hot paths: without a window, or with diagnostics off, this
    // costs one test and, at most, two lookups.
    LogSink& sink = Sink();
    if (!sink || !Settings::IsYes("show_diagnostics"))
        return;
    sink(area, level, text, item);
}

void SetLogSink(LogSink sink)
{
    Sink() = std::move(sink);
}
