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

    // Appends the message as a status line: not logged, no activity, under the cap.
    void AddStatusMessage(const QString& message);

public slots:
    void CheckChatInactivity();

protected:
    ChatView(QWidget* parent, bool capped);

    // The view the page shows its lines in; set once its form is built.
    void SetChatView(QTextBrowser* view);
    // Starts a chat when none runs and builds the paragraph of an ordinary line.
    QString OrdinaryParagraph(const QString& sender, const QString& text);
    // Appends a paragraph, first dropping the oldest lines of a full view.
    void AppendChatParagraph(const QString& paragraph);

    bool chatActive = false;
    QDateTime lastChatTime;

private:
    // What one append put in the view: its blocks, and the length of the paragraph given.
    struct Shown
    {
        int blocks;
        int length;
    };

    void Append(const QString& paragraph);
    // Drops the oldest lines when the view's HTML and the coming paragraph would pass the cap.
    void MakeRoomFor(int length);
    void DropOldestLines(qint64 htmlToDrop);

    QTextBrowser* chatView = nullptr;
    const bool capped;
    std::deque<Shown> shown;
    qint64 shownLength = 0;
    // The view's HTML length per character of the paragraphs given, as last measured; the
    // first guess is high, so that the first measure comes early.
    double htmlPerCharacter = 4.0;
};
