#pragma once

#include <ctime>

#include <QWidget>

#include "DataLoadedEventHandler.h"
#include "ItemPtr.h"

class Ui_MessageListForm;

// Every private message received or sent, kept in the saved store, and a list with one row per
// correspondent showing the latest message, the most recent correspondent on top.
class MessageListForm : public QWidget, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    enum Column
    {
        timeColumn,
        userColumn,
        messageColumn,
    };

    explicit MessageListForm(QWidget* parent = nullptr);
    ~MessageListForm() override;

    // Declares the message types and has them saved; must run once, before the store is loaded.
    void Init();
    void DataLoaded() override;

    void AddMessageToList(ItemPtr message);

    Ui_MessageListForm* Form() const { return ui; }

public slots:
    void OnPrivateChat(QString i_user, QString i_chat, time_t i_time, bool i_spontaneous);
    void OnPrivateChatSent(QString i_user, QString i_chat);

private:
    void RecordMessage(const QString& user, const QString& text, long long time,
                       const char* direction);

    Ui_MessageListForm* ui;
};
