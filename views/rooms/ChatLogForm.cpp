#include "ChatLogForm.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTextBlock>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QUrl>

#include "ActionSetToolBar.h"
#include "ChatText.h"
#include "Data.h"
#include "Settings.h"
#include "TabFocus.h"
#include "ViewAddress.h"
#include "WindowTypes.h"
#include "ui_ChatLogForm.h"

namespace {
constexpr qreal hangingIndent = 24;

// The wrapped rest of a long line is indented, so that a message cannot make a piece of its
// text look like a line of its own at the left edge.
QTextBlockFormat LineFormat()
{
    QTextBlockFormat format;
    format.setLeftMargin(hangingIndent);
    format.setTextIndent(-hangingIndent);
    return format;
}

// Logs hold what peers wrote: shown as plain text, never as markup.
void AppendPlain(QTextDocument* document, const QString& line)
{
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    if (!document->isEmpty() || document->blockCount() > 1)
        cursor.insertBlock(LineFormat());
    else
        cursor.setBlockFormat(LineFormat());
    cursor.insertText(line);
}
} // namespace

ChatLogForm::ChatLogForm(const QString& path, QWidget* parent)
    : QWidget(parent), ui(new Ui_ChatLogForm)
{
    ViewAddress::Enter(this);
    ui->setupUi(this);
    ui->searchBackButton->setIcon(QIcon(":/icons/back_icon"));
    ui->searchForwardButton->setIcon(QIcon(":/icons/forward_icon"));
    ui->searchBackButton->setEnabled(false);
    ui->searchForwardButton->setEnabled(false);
    RegisterWidgetForTabFocus(ui->searchEdit, 1);
    connect(ui->searchEdit, &QLineEdit::textChanged, this, &ChatLogForm::OnSearchTextChanged);
    connect(ui->searchBackButton, &QPushButton::clicked, this, &ChatLogForm::OnSearchBack);
    connect(ui->searchForwardButton, &QPushButton::clicked, this, &ChatLogForm::OnSearchForward);

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    ui->logEdit->setUpdatesEnabled(false);
    // Whole lines, however long: a line cut at a buffer size would show its rest as a line of
    // its own. Logs written before separators were flattened are flattened here.
    QStringList lines;
    while (!file.atEnd())
        lines << ChatText::OneLine(QString::fromUtf8(file.readLine())).trimmed();
    ui->logEdit->setPlainText(lines.join('\n'));
    QTextCursor all(ui->logEdit->document());
    all.select(QTextCursor::Document);
    all.setBlockFormat(LineFormat());
    ui->logEdit->setUpdatesEnabled(true);
    logPath = path;
    if (actionBar)
    {
        actionBar->RegisterWidget(this, "chat_log");
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this,
                &ChatLogForm::OnActionTriggered);
    }
}

ChatLogForm::~ChatLogForm()
{
    ViewAddress::Leave(this);
    // Logging stops feeding this viewer, and the next request opens a new one.
    ItemPtr own = d.GetType(WindowTypes::chatLogForm)->HasItem(ViewAddress::Of(this));
    if (!own.IsNull())
        own.Remove();
    delete ui;
}

void ChatLogForm::AddLine(const QString& line)
{
    AppendPlain(ui->logEdit->document(), ChatText::OneLine(line).trimmed());
}

void ChatLogForm::OnSearchTextChanged(QString i_text)
{
    ui->logEdit->setUpdatesEnabled(false);
    ui->logEdit->moveCursor(QTextCursor::Start);
    ui->searchBackButton->setEnabled(false);
    ui->searchForwardButton->setEnabled(false);
    if (!i_text.isEmpty() && ui->logEdit->find(i_text))
        MarkFind();
    else
        ClearHighlight();
    ui->logEdit->setUpdatesEnabled(true);
}

void ChatLogForm::OnSearchForward()
{
    ui->logEdit->setUpdatesEnabled(false);
    QTextCursor cursor = ui->logEdit->textCursor();
    cursor.clearSelection();
    cursor.movePosition(QTextCursor::NextCharacter);
    ui->logEdit->setTextCursor(cursor);
    if (ui->logEdit->find(ui->searchEdit->text()))
        MarkFind();
    else
        ClearHighlight();
    ui->logEdit->setUpdatesEnabled(true);
}

void ChatLogForm::OnSearchBack()
{
    ui->logEdit->setUpdatesEnabled(false);
    if (ui->logEdit->find(ui->searchEdit->text(), QTextDocument::FindBackward))
        MarkFind();
    else
        ClearHighlight();
    ui->logEdit->setUpdatesEnabled(true);
}

void ChatLogForm::MarkFind()
{
    const int length = ui->searchEdit->text().size();
    const int start = ui->logEdit->textCursor().position() - length;
    QTextEdit::ExtraSelection match;
    match.cursor = QTextCursor(ui->logEdit->document());
    match.cursor.setPosition(start);
    match.cursor.setPosition(start + length, QTextCursor::KeepAnchor);
    match.format.setForeground(QColor(Settings::GetText("color_input_background")));
    match.format.setBackground(QColor(Settings::GetText("color_input_text")));
    ui->logEdit->setExtraSelections({match});
    MarkSearchButtons();
    // Through the end, so that the match's line comes to the top of a long log.
    ui->logEdit->moveCursor(QTextCursor::End);
    QTextCursor cursor = ui->logEdit->textCursor();
    cursor.setPosition(start);
    ui->logEdit->setTextCursor(cursor);
}

void ChatLogForm::MarkSearchButtons()
{
    const QString text = ui->searchEdit->text();
    QTextDocument* document = ui->logEdit->document();
    const QTextCursor match = ui->logEdit->textCursor();
    const bool later = !document->find(text, match.selectionStart() + 1).isNull();
    const bool earlier =
        !document->find(text, match.selectionStart(), QTextDocument::FindBackward).isNull();
    ui->searchForwardButton->setEnabled(later);
    ui->searchBackButton->setEnabled(earlier);
}

void ChatLogForm::ClearHighlight()
{
    ui->logEdit->setExtraSelections({});
}

void ChatLogForm::OnActionTriggered(QWidget* ip_widget, QString i_action)
{
    if (ip_widget != this || logPath.isEmpty())
        return;
    if (i_action == "clear_chat_log")
    {
        if (QMessageBox::question(nullptr, tr("Clear log?"),
                                  tr("Are you sure you want to erase the contents of this log?"),
                                  QMessageBox::Yes | QMessageBox::No,
                                  QMessageBox::No) != QMessageBox::Yes)
            return;
        QFile::remove(logPath);
        ui->logEdit->clear();
    }
    else if (i_action == "open_log_folder")
    {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(logPath).absolutePath()));
    }
}
