#include "ChatView.h"

#include <algorithm>

#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>

#include "ChatText.h"
#include "GeneralFunctions.h"
#include "Settings.h"
#include "TimerManager.h"

namespace {
constexpr qint64 inactivityMs = 300000;
const char* const timestampsKey = "chat_timestamps";
} // namespace

ChatView::ChatView(QWidget* parent, bool capped)
    : QWidget(parent), lastChatTime(QDateTime::currentDateTime()), capped(capped)
{
    if (timerManager)
        connect(&timerManager->halfMinuteTimer, &QTimer::timeout, this,
                &ChatView::CheckChatInactivity);
}

void ChatView::SetChatView(QTextBrowser* view)
{
    chatView = view;
    // Links are opened by the page, and nothing a peer names is ever loaded.
    chatView->setOpenLinks(false);
    chatView->setOpenExternalLinks(false);
}

void ChatView::AddStatusMessage(const QString& message)
{
    // Under the cap too: a member's action lines are status lines, and a flood of them must
    // not grow the view without bound.
    AppendChatParagraph(ChatText::StatusPiece(message));
}

void ChatView::CheckChatInactivity()
{
    if (!chatActive)
        return;
    const qint64 ms = lastChatTime.msecsTo(QDateTime::currentDateTime());
    if (ms < inactivityMs)
        return;
    chatActive = false;
    if (Settings::GetText(timestampsKey) == "activity_based")
        AddStatusMessage("Chat ended " + ChatText::LongTime(lastChatTime));
}

QString ChatView::OrdinaryParagraph(const QString& sender, const QString& text)
{
    const QString mode = Settings::GetText(timestampsKey);
    const QDateTime now = QDateTime::currentDateTime();
    lastChatTime = now;
    if (!chatActive)
    {
        chatActive = true;
        if (mode == "activity_based")
            AddStatusMessage("Chat started " + ChatText::LongTime(now));
    }
    QString paragraph;
    if (mode == "per_message_short")
        paragraph = ChatText::TimeStampPiece(ChatText::ShortTime(now));
    else if (mode == "per_message_long")
        paragraph = ChatText::TimeStampPiece(ChatText::LongTime(now));
    return paragraph + ChatText::SenderPiece(sender) + EscapeHTML(text);
}

void ChatView::AppendChatParagraph(const QString& paragraph)
{
    const QString html = ConvertLinks(paragraph);
    if (capped)
        MakeRoomFor(html.size());
    Append(html);
}

void ChatView::Append(const QString& paragraph)
{
    // The HTML reader starts a block at each Unicode separator: one line must stay one block.
    QString html = paragraph;
    html.replace(QChar::LineSeparator, QChar(' '));
    html.replace(QChar::ParagraphSeparator, QChar(' '));
    QTextDocument* document = chatView->document();
    const int before = document->isEmpty() ? 0 : document->blockCount();
    chatView->append(html);
    shown.push_back({document->blockCount() - before, int(html.size())});
    shownLength += html.size();
}

void ChatView::MakeRoomFor(int length)
{
    // The view's HTML is read only when the estimate comes near the cap: reading it for every
    // line of a busy room would cost more than showing the line. Twice the coming paragraph
    // leaves room for an estimate that runs short.
    if ((shownLength + 2 * qint64(length)) * htmlPerCharacter <= chatCap)
        return;
    const qint64 html = chatView->toHtml().size();
    if (shownLength > 0)
        htmlPerCharacter = double(html) / double(shownLength);
    const qint64 wanted = html + qint64(2 * length * htmlPerCharacter);
    if (wanted > chatCap)
        DropOldestLines(std::max<qint64>(chatDrop, wanted - chatCap));
}

void ChatView::DropOldestLines(qint64 htmlToDrop)
{
    // Whole appends go, oldest first; the document is cut in place rather than rebuilt from
    // its HTML.
    size_t lines = 0;
    int blocks = 0;
    qint64 length = 0;
    while (lines < shown.size() && length * htmlPerCharacter < htmlToDrop)
    {
        blocks += shown[lines].blocks;
        length += shown[lines].length;
        ++lines;
    }
    QTextDocument* document = chatView->document();
    if (blocks >= document->blockCount())
    {
        chatView->clear();
    }
    else
    {
        QTextCursor cursor(document);
        cursor.setPosition(document->findBlockByNumber(blocks).position(), QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    shown.erase(shown.begin(), shown.begin() + long(lines));
    shownLength -= length;
}
