#pragma once

#include <string>

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include "DataHandler.h"
#include "ItemPtr.h"

class QTextBrowser;
class QTreeWidgetItem;
class Ui_DiagnosticsForm;

// Names of the item types of the logging, written once.
namespace DiagnosticsTypes {
constexpr const char* log = "log";
constexpr const char* logWidget = "log_widget";
constexpr const char* trackUserNode = "track_user_node";
constexpr const char* itemLog = "item_log";
constexpr const char* logTime = "log_time";
constexpr const char* logArea = "log_area";
constexpr const char* logLevel = "log_level";
constexpr const char* logText = "log_text";
constexpr const char* logOrder = "log_order";
} // namespace DiagnosticsTypes

// The diagnostics window: one tab of log lines per area, the users the client tracks with their
// online state, and the developer tools. It is the sink of the global Log while it lives.
class DiagnosticsForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    // An action of the context tool bar's set `actionSet`, for the main window to register.
    struct ToolBarAction
    {
        QString key;
        QString text;
        QString icon;
    };

    static constexpr const char* actionSet = "diagnostics";
    // Folder in the home folder holding one "<area>.log" per area.
    static constexpr const char* logFolder = "qerv-client-logs";

    explicit DiagnosticsForm(QWidget* parent = nullptr);
    ~DiagnosticsForm() override;

    static QList<ToolBarAction> ToolBarActions();
    // The file that lines of the area go to; names that could leave the folder are made safe.
    static QString LogFilePath(const QString& i_area);

    // Registers the path handlers on the server's user types, which must exist, and declares the
    // record types.
    void Init();
    // Lets Log attach records to items of the type.
    void RegisterLoggableItemType(const std::string& i_typeName);
    void Log(const QString& i_area, int i_level, const QString& i_text, ItemPtr i_item);

    void OnUserTracked(ItemPtr i_user);
    void OnUserUntracked(ItemPtr i_user);
    void OnUserOnline(ItemPtr i_user);
    void OnUserOffline(ItemPtr i_user);

public slots:
    void OnActionTriggered(QWidget* ip_widget, QString i_action);
    // Shows the lines waiting for their tabs; normally run by a zero timer after logging.
    void FlushLogLines();

private:
    QTextBrowser* AreaBrowser(const QString& i_area, bool& o_created);
    QTreeWidgetItem* UserRow(ItemPtr i_user) const;
    void SetOnlineText(ItemPtr i_user, bool i_online);
    void WriteItemRecord(const QString& i_area, int i_level, const QString& i_text, ItemPtr i_item);
    void DumpData();

    Ui_DiagnosticsForm* ui = nullptr;
    qint64 nextLogOrder = 0;
    // Lines logged but not yet shown, by tab; shown in slices so that a flood of lines leaves
    // the window responsive.
    QHash<QTextBrowser*, QStringList> pendingLines;
    QTimer flushTimer;
};

extern DiagnosticsForm* diagnosticsForm;
