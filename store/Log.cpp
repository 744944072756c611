#include "Log.h"

#include "Data.h"
#include "DataHandler.h"
#include "Settings.h"

namespace {
// Read on every call: kept true only while a sink is registered and
// show_diagnostics is "yes", so the common case needs no store lookup.
bool enabled = false;

LogSink& Sink()
{
    static LogSink sink;
    return sink;
}

// Keeps `enabled` in step with the setting through the store's connection events.
class SettingWatcher : public DataHandler
{
public:
    explicit SettingWatcher(Data& store)
    {
        Type* keys = store.GetType(Settings::global);
        Type* values = store.GetType(Settings::value);
        store.AddConnectionHandler(keys, values, this, &SettingWatcher::OnSettingChanged);
        store.AddDisconnectionHandler(keys, values, this, &SettingWatcher::OnSettingChanged);
        Refresh();
    }

    void OnSettingChanged(ConnectionInfo& info)
    {
        if (info.from->value.Bytes() == LogSettings::showDiagnostics)
            Refresh();
    }

    static void Refresh() { enabled = Settings::IsYes(LogSettings::showDiagnostics); }
};

// Not freed at exit: the store may be gone by then, and the handlers live in it.
SettingWatcher* watcher = nullptr;
} // namespace

void Log(const QString& area, int level, const QString& text, ItemPtr item)
{
    if (!enabled)
        return;
    Sink()(area, level, text, item);
}

void Log(const char* area, int level, const char* text, ItemPtr item)
{
    if (!enabled)
        return;
    Sink()(QString::fromUtf8(area), level, QString::fromUtf8(text), item);
}

bool LogEnabled()
{
    return enabled;
}

void SetLogSink(LogSink sink)
{
    Sink() = std::move(sink);
    if (!Sink())
    {
        delete watcher;
        watcher = nullptr;
        enabled = false;
        return;
    }
    if (watcher)
        return;
    if (!d.HasType(Settings::global) || !d.HasType(Settings::value))
        return;
    watcher = new SettingWatcher(d);
}
