#pragma once

#include <QWidget>

class Ui_ReceivedSearchesForm;

// The searches other users send to this client, newest on top, with "Match" where this client
// answered; at most maxRows rows, and none while paused.
class ReceivedSearchesForm : public QWidget
{
    Q_OBJECT

public:
    static constexpr int maxRows = 500;

    explicit ReceivedSearchesForm(QWidget* parent = nullptr);
    ~ReceivedSearchesForm() override;

    void Init();
    Ui_ReceivedSearchesForm* Form() const { return ui; }

public slots:
    void OnSearchProcessed(QString i_search, bool i_answered);
    void OnActionTriggered(QWidget* ip_widget, QString i_action);

private:
    Ui_ReceivedSearchesForm* ui;
    bool paused = false;
};

extern ReceivedSearchesForm* receivedSearchesForm;
