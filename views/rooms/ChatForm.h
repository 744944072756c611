#pragma once

#include "ChatView.h"
#include "ItemPtr.h"

class QPoint;
class QTabWidget;
class QUrl;
class Ui_ChatForm;

// One private conversation: its lines, the partner's away and available changes, and the
// input line that sends to the partner.
class ChatForm : public ChatView
{
    Q_OBJECT

public:
    // Characters of a message shown in the tray before it is cut.
    static constexpr int trayTextLength = 100;

    ChatForm(const QString& user, QTabWidget* tabWidget, QWidget* parent = nullptr);
    ~ChatForm() override;

    // One line of the conversation, from the partner or from the local user.
    void AddChat(const QString& sender, const QString& text);
    void LogChat(const QString& line);
    void Focus();
    // The tray message of a line: the sender and the start of the text.
    static QString TrayText(const QString& sender, const QString& text);

    Ui_ChatForm* Form() const { return ui; }

    void OnUserAway(ItemPtr i_user);
    void OnUserAvailable(ItemPtr i_user);

public slots:
    void OnEnter();
    // The per-user menu for the partner.
    void OnContextMenuRequested(const QPoint& i_point);
    void OnURLClicked(const QUrl& i_url);
    void OnActionTriggered(QWidget* ip_widget, QString i_action);

protected:
    void showEvent(QShowEvent* event) override;

private:
    ItemPtr UserItem() const;

    Ui_ChatForm* ui;
    const QString user;
    QTabWidget* tabWidget;
};
