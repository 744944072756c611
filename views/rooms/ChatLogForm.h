#pragma once

#include <QWidget>

class Ui_ChatLogForm;

// One chat log file, shown as plain text with a search that highlights the current match.
class ChatLogForm : public QWidget
{
    Q_OBJECT

public:
    ChatLogForm(const QString& path, QWidget* parent = nullptr);
    ~ChatLogForm() override;

    // A line just logged by the conversation this log belongs to.
    void AddLine(const QString& line);

    Ui_ChatLogForm* Form() const { return ui; }

public slots:
    void OnSearchTextChanged(QString i_text);
    void OnSearchBack();
    void OnSearchForward();
    void OnActionTriggered(QWidget* ip_widget, QString i_action);

private:
    void MarkFind();
    void MarkSearchButtons();
    void ClearHighlight();

    Ui_ChatLogForm* ui;
    QString logPath;
};
