#include "RoomWallForm.h"

#include <QTextCursor>
#include <QTimer>

#include "Data.h"
#include "GeneralFunctions.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "ViewAddress.h"
#include "ui_RoomWallForm.h"

using namespace ServerTypes;

RoomWallForm::RoomWallForm(const QString& room, QWidget* parent)
    : QWidget(parent), ui(new Ui_RoomWallForm), room(room)
{
    ViewAddress::Enter(this);
    ui->setupUi(this);
    UpdateText();

    ItemPtr roomItem = d.GetType(ServerTypes::room)->GetItem(Value(room));
    // A line comes whole once its room, user, text and order are connected; a replaced or
    // withdrawn line leaves its room.
    auto* lines = new PathNode(&d, roomTicker);
    new PathNode(lines, roomItem, PathRequired);
    new PathNode(lines, user, PathRequired);
    new PathNode(lines, roomTickerText, PathRequired);
    new PathNode(lines, roomTickerOrder, PathRequired);
    d.AddPathHandler(lines, this, &RoomWallForm::OnNewTicker);
    auto* gone = new PathNode(&d, roomTicker);
    new PathNode(gone, roomItem, PathOnDisconnect);
    d.AddPathHandler(gone, this, &RoomWallForm::OnNewTicker);

    connect(ui->lineEdit, &QLineEdit::returnPressed, this, &RoomWallForm::OnEnterPressed);
}

RoomWallForm::~RoomWallForm()
{
    ViewAddress::Leave(this);
    ItemPtr own = d.GetType(formType)->HasItem(ViewAddress::Of(this));
    if (!own.IsNull())
        own.Remove();
    delete ui;
}

QString RoomWallForm::TableHtml() const
{
    ItemPtr roomItem = d.GetType(ServerTypes::room)->HasItem(Value(room));
    QString html = "<table>";
    int row = 0;
    for (ItemPtr line : roomItem.GetItems(roomTicker).SortNumericBy(roomTickerOrder, false))
    {
        html += row++ % 2 == 0 ? "<tr width=\"%100\"><td bgcolor=#ffffff>"
                               : "<tr width=\"%100\"><td bgcolor=#d3d3d3>";
        html += "<b><big>" + EscapeHTML(line[roomTickerText].AsString()) +
                "</big></b><font color=\"" + Settings::GetText("color_chat_username") + "\"> -" +
                EscapeHTML(line[user].AsString()) + "</font></td></tr>";
    }
    return html + "</table>";
}

void RoomWallForm::UpdateText()
{
    updatePending = false;
    ui->textBrowser->setUpdatesEnabled(false);
    ui->textBrowser->clear();
    ui->textBrowser->append(TableHtml());
    ui->textBrowser->moveCursor(QTextCursor::Start);
    ui->textBrowser->setUpdatesEnabled(true);
}

void RoomWallForm::OnNewTicker(ItemPtr)
{
    ScheduleUpdate();
}

void RoomWallForm::ScheduleUpdate()
{
    if (updatePending)
        return;
    updatePending = true;
    QTimer::singleShot(0, this, &RoomWallForm::UpdateText);
}

void RoomWallForm::OnEnterPressed()
{
    const QString text = ui->lineEdit->text().trimmed();
    if (text.isEmpty())
        return;
    if (gp_server)
        gp_server->SetRoomTicker(room, text);
    ui->lineEdit->clear();
}
