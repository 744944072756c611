#include "ChatView.h"

#include <QTextBrowser>
#include <QTextCursor>

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
    Append(ConvertLinks(ChatText::StatusPiece(message)));
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
    if (capped && shownSize > chatCap)
        DropOldestLines();
    Append(ConvertLinks(paragraph));
}

void ChatView::Append(const QString& paragraph)
{
    chatView->append(paragraph);
    paragraphSizes.push_back(paragraph.size());
    shownSize += paragraph.size();
}

void ChatView::DropOldestLines()
{
    // Whole paragraphs go, oldest first, until at least chatDrop characters are gone; the
    // document is cut in place rather than rebuilt from its HTML.
    int lines = 0;
    qint64 dropped = 0;
    while (dropped < chatDrop && lines + 1 < int(paragraphSizes.size()))
    {
        dropped += paragraphSizes[lines];
        ++lines;
    }
    QTextCursor cursor(chatView->document());
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, lines);
    cursor.removeSelectedText();
    paragraphSizes.erase(paragraphSizes.begin(), paragraphSizes.begin() + lines);
    shownSize -= dropped;
}
