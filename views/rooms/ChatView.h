#pragma once

#include <deque>

#include <QDateTime>
#include <QWidget>

#include "DataHandler.h"

class QTextBrowser;

// A page that shows a conversation: the paragraphs of chat and status lines in its view, and
// the running-chat markers ("Chat started", "Chat ended") that follow the time between lines.
class ChatView : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    // HTML characters a capped view holds before it drops its oldest lines, and how many it
    // drops then.
    static constexpr int chatCap = 250000;
    static constexpr int chatDrop = 50000;

    // Appends the message as a status line: not logged, no activity.
    void AddStatusMessage(const QString& message);

public slots:
    void CheckChatInactivity();

protected:
    ChatView(QWidget* parent, bool capped);

    // The view the page shows its lines in; set once its form is built.
    void SetChatView(QTextBrowser* view);
    // Starts a chat when none runs and builds the paragraph of an ordinary line.
    QString OrdinaryParagraph(const QString& sender, const QString& text);
    // Appends an ordinary line's paragraph, first dropping the oldest lines of a full view.
    void AppendChatParagraph(const QString& paragraph);

    bool chatActive = false;
    QDateTime lastChatTime;

private:
    void Append(const QString& paragraph);
    void DropOldestLines();

    QTextBrowser* chatView = nullptr;
    const bool capped;
    // The HTML length of each paragraph in the view, oldest first, and their sum.
    std::deque<int> paragraphSizes;
    qint64 shownSize = 0;
};
