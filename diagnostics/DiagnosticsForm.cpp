#include "DiagnosticsForm.h"

#include <algorithm>
#include <memory>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QScrollBar>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTreeWidgetItem>

#include "ui_DiagnosticsForm.h"

#include "Data.h"
#include "DataDialog.h"
#include "DataSaver.h"
#include "GeneralFunctions.h"
#include "Log.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "TypeNavigatorDialog.h"

DiagnosticsForm* diagnosticsForm = nullptr;

namespace {
// `log` is always qualified: <cmath> declares one in the global namespace too.
using namespace DiagnosticsTypes;

// Laying out a line takes microseconds, so a flood of lines is shown a chunk at a time, for at most
// about one pass's time before the event loop runs again. Each tab gets at least one chunk per
// pass, so a few lines always show in one.
constexpr int linesPerChunk = 250;
constexpr qint64 passMs = 20;

const char* const onlineText = "Online";
const char* const offlineText = "Offline";

// Another form may have declared the types already in this run.
Type* DeclareType(const char* name, Primacy primacy, bool isNull)
{
    if (Type* type = d.HasType(name))
        return type;
    return d.NewType(name, primacy, isNull, true);
}

void Relate(const char* name, const char* other, OneOrMany thisEnd, OneOrMany otherEnd)
{
    Type* type = d.GetType(name);
    Type* otherType = d.GetType(other);
    if (!type->FindRelation(otherType))
        type->RelateToType(otherType, thisEnd, otherEnd, false);
}

void RemoveAllOf(const char* typeName)
{
    if (Type* type = d.HasType(typeName))
        type->RemoveAllItems();
}

// Plain text, as QTextEdit::append would place it, but one edit for many lines: network text
// must never be read as markup.
void AppendLines(QTextBrowser* browser, const QStringList& lines)
{
    QScrollBar* bar = browser->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();
    QTextCursor cursor(browser->document());
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    if (!browser->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(lines.join('\n'));
    cursor.endEditBlock();
    if (atBottom)
        bar->setValue(bar->maximum());
}

// Shows the first lines, chunk by chunk while the pass has time left; returns how many.
int ShowSome(QTextBrowser* browser, const QStringList& lines, const QElapsedTimer& pass)
{
    int shown = 0;
    do
    {
        const int count = std::min(static_cast<int>(lines.size()) - shown, linesPerChunk);
        AppendLines(browser, lines.mid(shown, count));
        shown += count;
    } while (shown < lines.size() && !pass.hasExpired(passMs));
    return shown;
}

// The file is opened for every line, so that a crash loses nothing and other programs may read
// or move it meanwhile.
void WriteLogFile(const QString& area, const QString& startTime, const QString& line)
{
    QFile file(DiagnosticsForm::LogFilePath(area));
    if (!file.open(QIODevice::Append))
    {
        QDir().mkpath(QFileInfo(file).absolutePath());
        if (!file.open(QIODevice::Append))
            return;
    }
    if (!startTime.isEmpty())
        file.write(QString("* Logging started at %1\n").arg(startTime).toLatin1());
    file.write((line + '\n').toLatin1());
}
} // namespace

DiagnosticsForm::DiagnosticsForm(QWidget* parent) : QWidget(parent), ui(new Ui_DiagnosticsForm)
{
    diagnosticsForm = this;
    ui->setupUi(this);
    ui->trackedUsersTree->setColumnCount(2);
    ui->trackedUsersTree->setHeaderLabels({tr("User"), QString()});
    ui->trackedUsersTree->setColumnWidth(0, 300);
    ui->trackedUsersTree->setColumnWidth(1, 100);

    DeclareType(DiagnosticsTypes::log, PrimacyRoot, false);
    DeclareType(logWidget, PrimacyRoot, false);
    Relate(DiagnosticsTypes::log, logWidget, One, One);

    flushTimer.setSingleShot(true);
    flushTimer.setInterval(0);
    connect(&flushTimer, &QTimer::timeout, this, &DiagnosticsForm::FlushLogLines);

    SetLogSink([](const QString& area, int level, const QString& text, ItemPtr item) {
        if (diagnosticsForm)
            diagnosticsForm->Log(area, level, text, item);
    });
}

DiagnosticsForm::~DiagnosticsForm()
{
    if (diagnosticsForm == this)
    {
        SetLogSink({});
        diagnosticsForm = nullptr;
    }
    RemoveDataHandlers();
    // The addresses in these items die with the form's widgets.
    RemoveAllOf(trackUserNode);
    RemoveAllOf(logWidget);
    RemoveAllOf(DiagnosticsTypes::log);
    delete ui;
}

QList<DiagnosticsForm::ToolBarAction> DiagnosticsForm::ToolBarActions()
{
    return {
        {"dump_data", tr("Dump Data"), ":/icons/info_icon"},
        {"show_data", tr("Show Data"), ":/icons/info_icon"},
        {"type_navigator", tr("Type Navigator"), ":/icons/info_icon"},
    };
}

QString DiagnosticsForm::LogFilePath(const QString& i_area)
{
    QString name = i_area;
    name.replace('/', '_').replace('\\', '_').replace(QChar(0), '_').replace("..", "__");
    return QString("%1/%2/%3.log").arg(QDir::homePath(), logFolder, name);
}

void DiagnosticsForm::Init()
{
    Type* userType = d.GetType(ServerTypes::user);
    DeclareType(trackUserNode, PrimacyRoot, false);
    Relate(trackUserNode, ServerTypes::user, One, One);

    DeclareType(itemLog, PrimacyRoot, true);
    for (const char* part : {logTime, logArea, logLevel, logText})
    {
        DeclareType(part, PrimacyLeaf, false);
        Relate(itemLog, part, Many, One);
    }
    DeclareType(logOrder, PrimacyLeaf, false);
    Relate(itemLog, logOrder, One, One);
    nextLogOrder = 0;

    const struct
    {
        const char* step;
        PathNodeRelation kind;
        void (DiagnosticsForm::*handler)(ItemPtr);
    } paths[] = {
        {ServerTypes::isTracked, PathOnConnect, &DiagnosticsForm::OnUserTracked},
        {ServerTypes::isTracked, PathOnDisconnect, &DiagnosticsForm::OnUserUntracked},
        {ServerTypes::isOnline, PathOnConnect, &DiagnosticsForm::OnUserOnline},
        {ServerTypes::isOnline, PathOnDisconnect, &DiagnosticsForm::OnUserOffline},
    };
    for (const auto& path : paths)
    {
        auto root = std::make_unique<PathNode>(&d, userType->name.c_str());
        new PathNode(root.get(), path.step, path.kind);
        d.AddPathHandler(root.release(), this, path.handler);
    }
}

void DiagnosticsForm::RegisterLoggableItemType(const std::string& i_typeName)
{
    Relate(itemLog, i_typeName.c_str(), Many, One);
}

void DiagnosticsForm::Log(const QString& i_area, int i_level, const QString& i_text, ItemPtr i_item)
{
    if (!Settings::IsYes(LogSettings::showDiagnostics))
        return;
    const QString time = CurrentLocalTimeText();
    const QString line =
        QString("[%1] ").arg(time) + QString(3 * std::max(0, i_level - 1), ' ') + i_text;
    bool created = false;
    QTextBrowser* browser = AreaBrowser(i_area, created);
    pendingLines[browser] << line;
    if (!flushTimer.isActive())
        flushTimer.start();

    if (!Settings::IsYes(LogSettings::userLevelLogging))
        return;
    WriteItemRecord(i_area, i_level, i_text, i_item);
    WriteLogFile(i_area, created ? time : QString(), line);
}

void DiagnosticsForm::FlushLogLines()
{
    QElapsedTimer pass;
    pass.start();
    for (auto entry = pendingLines.begin(); entry != pendingLines.end();)
    {
        QStringList& lines = entry.value();
        if (ui->logTabWidget->indexOf(entry.key()) < 0)
        {
            entry = pendingLines.erase(entry);
            continue;
        }
        lines.erase(lines.begin(), lines.begin() + ShowSome(entry.key(), lines, pass));
        entry = lines.isEmpty() ? pendingLines.erase(entry) : std::next(entry);
    }
    if (!pendingLines.isEmpty())
        flushTimer.start();
}

QTextBrowser* DiagnosticsForm::AreaBrowser(const QString& i_area, bool& o_created)
{
    const ItemPtr area = d.GetType(DiagnosticsTypes::log)->GetItem(Value(i_area));
    const ItemPtr link = area[logWidget];
    if (!link.IsNull())
    {
        auto* browser = link.AsPointer<QTextBrowser>();
        if (ui->logTabWidget->indexOf(browser) >= 0)
            return browser;
        link.Remove();
    }
    auto* browser = new QTextBrowser(this);
    // Nobody can undo in a log; the undo stack would keep a copy of every line.
    browser->document()->setUndoRedoEnabled(false);
    ui->logTabWidget->addTab(browser, i_area);
    area.Connect(d.GetType(logWidget)->GetItem(Value(browser)));
    o_created = true;
    return browser;
}

void DiagnosticsForm::WriteItemRecord(const QString& i_area, int i_level, const QString& i_text,
                                      ItemPtr i_item)
{
    if (i_item.IsNull())
        return;
    Type* recordType = d.HasType(itemLog);
    // item_log is related only to the types registered as loggable.
    if (!recordType || !recordType->FindRelation(i_item.GetType()))
        return;
    const ItemPtr record = recordType->NewItem();
    record.Connect(d.GetType(logTime)->GetItem(Value(CurrentLocalTimeText())));
    record.Connect(d.GetType(logArea)->GetItem(Value(i_area)));
    record.Connect(d.GetType(logLevel)->GetItem(Value(i_level)));
    record.Connect(d.GetType(logText)->GetItem(Value(i_text)));
    record.Connect(d.GetType(logOrder)->GetItem(Value(static_cast<long long>(nextLogOrder))));
    ++nextLogOrder;
    // Last, so that a watcher of the item's records always meets a complete one.
    i_item.Connect(record);
}

QTreeWidgetItem* DiagnosticsForm::UserRow(ItemPtr i_user) const
{
    const ItemPtr link = i_user[trackUserNode];
    if (link.IsNull())
        return nullptr;
    auto* row = link.AsPointer<QTreeWidgetItem>();
    if (ui->trackedUsersTree->indexOfTopLevelItem(row) < 0)
    {
        link.Remove();
        return nullptr;
    }
    return row;
}

void DiagnosticsForm::OnUserTracked(ItemPtr i_user)
{
    const bool online = i_user.IsConnected(ServerTypes::isOnline);
    if (UserRow(i_user))
    {
        SetOnlineText(i_user, online);
        return;
    }
    auto* row = new QTreeWidgetItem(ui->trackedUsersTree,
                                    {i_user.AsString(), online ? onlineText : offlineText});
    i_user.Connect(d.GetType(trackUserNode)->GetItem(Value(row)));
}

void DiagnosticsForm::OnUserUntracked(ItemPtr i_user)
{
    QTreeWidgetItem* row = UserRow(i_user);
    if (!row)
        return;
    // The link goes before the row, so that no item ever holds a freed address.
    i_user[trackUserNode].Remove();
    delete row;
}

void DiagnosticsForm::OnUserOnline(ItemPtr i_user)
{
    SetOnlineText(i_user, true);
}

void DiagnosticsForm::OnUserOffline(ItemPtr i_user)
{
    SetOnlineText(i_user, false);
}

void DiagnosticsForm::SetOnlineText(ItemPtr i_user, bool i_online)
{
    if (QTreeWidgetItem* row = UserRow(i_user))
        row->setText(1, i_online ? onlineText : offlineText);
}

void DiagnosticsForm::OnActionTriggered(QWidget* ip_widget, QString i_action)
{
    if (ip_widget != this)
        return;
    if (i_action == "show_data")
    {
        if (!dataDialog)
            new DataDialog(&d, this);
        dataDialog->show();
    }
    else if (i_action == "type_navigator")
    {
        if (!typeNavigatorDialog)
            (new TypeNavigatorDialog(this))->Init();
        typeNavigatorDialog->show();
    }
    else if (i_action == "dump_data")
        DumpData();
    else if (i_action == "renew_data")
        d.Renew();
}

void DiagnosticsForm::DumpData()
{
    const QString fileName = QFileDialog::getSaveFileName(this, QString(), QString(), QString());
    if (fileName.isEmpty())
        return;
    if (dataSaver && dataSaver->SaveAll(fileName))
        QMessageBox::information(this, tr("Data Dump Succeeded"),
                                 tr("Client data successfully dumped to file."), QMessageBox::Ok);
    else
        QMessageBox::information(this, tr("Data Dump Failed"),
                                 tr("Error dumping client data to file."), QMessageBox::Ok);
}
