#pragma once

#include <QWidget>

#include "DataHandler.h"
#include "ItemPtr.h"

class ChatForm;
class Ui_ChatsForm;

// The Chat tab: one tab per private conversation, and the users' log viewers beside them.
class ChatsForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    explicit ChatsForm(QWidget* parent = nullptr);
    ~ChatsForm() override;

    void Init();
    // The user's tab, made when missing; the focus stays where it is.
    ChatForm* GetChatForm(const QString& user);
    // The user's tab, made when missing, shown and focused.
    void OpenChatForm(const QString& user);

    Ui_ChatsForm* Form() const { return ui; }

    void OnUserOnline(ItemPtr i_user);
    void OnUserOffline(ItemPtr i_user);

public slots:
    void OnChatTabClosed(int i_index);

private:
    void SetTabIcon(ItemPtr user, const char* icon);

    Ui_ChatsForm* ui;
};

// The one chats page; set by its constructor.
extern ChatsForm* chatsForm;
