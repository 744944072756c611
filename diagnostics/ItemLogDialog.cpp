#include "ItemLogDialog.h"

#include <QTextBrowser>
#include <QTextCursor>

#include "ui_ItemLogDialog.h"

#include "Data.h"
#include "DiagnosticsForm.h"

namespace {
const QString levelIndent = QStringLiteral("   ");

// Log texts come from the network; inserting them as text keeps markup in them inert and keeps
// the indentation that HTML would collapse.
void AppendLine(QTextBrowser* ip_browser, const QString& i_line)
{
    QTextDocument* document = ip_browser->document();
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    if (!document->isEmpty())
        cursor.insertBlock();
    cursor.insertText(i_line);
}
} // namespace

using namespace DiagnosticsTypes;

ItemLogDialog::ItemLogDialog(ItemPtr i_item, QWidget* ip_parent)
    : QDialog(ip_parent), ui(new Ui::ItemLogDialog), item(i_item)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);

    Data* store = item->type->data;
    auto* records = new PathNode(store, itemLog);
    new PathNode(records, item, PathOnConnect);
    store->AddPathHandler(records, this, &ItemLogDialog::OnItemLog);

    allBrowser = new QTextBrowser;
    ui->logTabWidget->addTab(allBrowser, tr("All"));

    for (ItemPtr record : item.GetItems(itemLog).SortNumericBy(logOrder, true))
        OnItemLog(record);
}

ItemLogDialog::~ItemLogDialog() = default;

void ItemLogDialog::OnItemLog(ItemPtr i_record)
{
    QTextBrowser* browser = AreaBrowser(i_record[logArea].AsString());
    QString line = "[" + i_record[logTime].AsString() + "] ";
    for (int level = i_record[logLevel].AsInt(); level > 1; --level)
        line += levelIndent;
    line += i_record[logText].AsString();
    AppendLine(browser, line);
    AppendLine(allBrowser, line);
}

QTextBrowser* ItemLogDialog::AreaBrowser(const QString& i_area)
{
    for (int page = 0; page < ui->logTabWidget->count(); ++page)
        if (ui->logTabWidget->tabText(page) == i_area)
            return static_cast<QTextBrowser*>(ui->logTabWidget->widget(page));
    auto* browser = new QTextBrowser;
    ui->logTabWidget->addTab(browser, i_area);
    return browser;
}
