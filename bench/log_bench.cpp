// Logging benchmark: the cost of one Log call with diagnostics off, and with them on the time to
// log 100,000 lines into one area and until the window shows them all, with the longest single
// pass of the event loop meanwhile (how long the window stops responding). Times are the best of
// a few runs; only a failed sanity check fails the run.

#include <algorithm>
#include <chrono>
#include <cstdio>

#include <QApplication>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextLayout>

#include "BenchTiming.h"
#include "Data.h"
#include "DiagnosticsForm.h"
#include "Log.h"
#include "Server.h"
#include "ServerTestSetup.h"
#include "Settings.h"

namespace {
constexpr int offCalls = 20000000;
constexpr int lineCount = 100000;
constexpr int fileLineCount = 10000;
constexpr int runs = 3;

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Flood
{
    double logSeconds = 0;   // the Log calls themselves
    double shownSeconds = 0; // from the first call until every line is laid out on screen
    double longestPassSeconds = 0;
    bool complete = false;
};

QTextBrowser* BrowserOf(DiagnosticsForm& form, const QString& area)
{
    auto* tabs = form.findChild<QTabWidget*>("logTabWidget");
    for (int index = 0; index < tabs->count(); ++index)
        if (tabs->tabText(index) == area)
            return qobject_cast<QTextBrowser*>(tabs->widget(index));
    return nullptr;
}

Flood LogFlood(DiagnosticsForm& form, const QString& area)
{
    Flood flood;
    const QString text = "Peer connection to user4711 established on port 2234 after 3 attempts";
    const auto start = Clock::now();
    for (int index = 0; index < lineCount; ++index)
        Log(area, 2, text);
    flood.logSeconds = SecondsSince(start);

    QTextBrowser* browser = BrowserOf(form, area);
    QTabWidget* tabs = form.findChild<QTabWidget*>("logTabWidget");
    tabs->setCurrentWidget(browser);
    QTextDocument* document = browser->document();
    while (document->blockCount() < lineCount || !document->lastBlock().layout()->lineCount() ||
           browser->verticalScrollBar()->value() != browser->verticalScrollBar()->maximum())
    {
        const auto pass = Clock::now();
        QCoreApplication::processEvents();
        flood.longestPassSeconds = std::max(flood.longestPassSeconds, SecondsSince(pass));
        if (SecondsSince(start) > 120)
            return flood;
    }
    browser->viewport()->repaint();
    flood.shownSeconds = SecondsSince(start);
    flood.complete = document->lastBlock().text().endsWith(text);
    return flood;
}
} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    Server server;
    ServerTestSetup::DeclareTypes(server);
    DiagnosticsForm form;
    form.Init();
    form.RegisterLoggableItemType("user");
    form.resize(800, 600);
    form.show();

    Settings::Set(LogSettings::showDiagnostics, "no");
    const QString area = "Peer Messenger";
    const QString text = "Sent a message of 123 bytes";
    const double offQStrings = BestSeconds(runs, [&] {
        for (int call = 0; call < offCalls; ++call)
            Log(area, 2, text);
    });
    const double offLiterals = BestSeconds(runs, [&] {
        for (int call = 0; call < offCalls; ++call)
            Log("Peer Messenger", 2, "Sent a message");
    });

    Settings::Set(LogSettings::showDiagnostics, "yes");
    Flood best;
    for (int run = 0; run < runs; ++run)
    {
        const Flood flood = LogFlood(form, QString("Flood %1").arg(run));
        if (!flood.complete)
        {
            std::fprintf(stderr, "sanity check failed: the window did not show every line\n");
            return 1;
        }
        if (run == 0 || flood.shownSeconds < best.shownSeconds)
            best = flood;
    }

    Settings::Set(LogSettings::userLevelLogging, "yes");
    const ItemPtr user = d.GetType("user")->GetItem("user4711");
    const double fileSeconds = BestSeconds(runs, [&] {
        for (int index = 0; index < fileLineCount; ++index)
            Log("Files", 1, text, user);
    });
    const size_t records = d.GetType(DiagnosticsTypes::itemLog)->ItemCount();
    if (records != size_t(runs) * fileLineCount)
    {
        std::fprintf(stderr, "sanity check failed: %zu records\n", records);
        return 1;
    }

    std::printf("diagnostics off, %d calls: %.2f ns per call with built strings, %.2f ns with "
                "literals\n",
                offCalls, offQStrings / offCalls * 1e9, offLiterals / offCalls * 1e9);
    std::printf("diagnostics on, %d lines into one area: Log calls %.3f s (%.2f us per line), "
                "all shown %.3f s, longest event-loop pass %.1f ms\n",
                lineCount, best.logSeconds, best.logSeconds / lineCount * 1e6, best.shownSeconds,
                best.longestPassSeconds * 1e3);
    std::printf("user-level logging with a record and the file, %d lines: %.3f s (%.1f us per "
                "line)\n",
                fileLineCount, fileSeconds, fileSeconds / fileLineCount * 1e6);
    return 0;
}
