#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QToolBar>
#include <QUrl>

#include "ItemPtr.h"

class QAction;
class QPushButton;
class QTreeWidget;

// The tool bar along the top of the main window. Its commands follow the keyboard focus: views
// register their widgets with a named set of commands, the bar shows the set of the registered
// widget that holds the focus, and a click is reported as ActionTriggered with that widget and
// the command's id. The own-availability button and the supporter button are always on it.
// Sets, registrations and keys live in run-time items of the store.
class ActionSetToolBar : public QToolBar
{
    Q_OBJECT

public:
    explicit ActionSetToolBar(QWidget* parent = nullptr);
    ~ActionSetToolBar() override;

    // The supporter web page for the user name.
    static QUrl SupporterPage(const QString& username);

    // Starts following the focus, and the privilege reports of the server connection when there
    // is one.
    void Init();

    // One command of a set, as the views list theirs in tables.
    struct SetAction
    {
        const char* set;
        const char* id;
        const char* text; // translated when added
        const char* icon;
        bool needsSelection = false;
    };

    // Appends a command to a set; the order of the calls, across all sets, is the order on the bar.
    void AddSetAction(const QString& setName, const QString& id, const QString& text,
                      const QString& iconPath, bool needsSelection);
    void AddSetAction(const SetAction& action);
    // The widget, and everything inside it, shows the set; registering again changes the set.
    void RegisterWidget(QWidget* widget, const QString& setName);
    // A key whose value is fixed, applied whenever the widget gets the focus.
    void AddWidgetKey(QWidget* widget, const QString& key, const QString& value);
    // A key read from a column of the selected row of the focused tree at each click.
    void AddWidgetColumnKey(QWidget* widget, const QString& key, int column);
    void SetWidgetActionText(QWidget* widget, const QString& id, const QString& text);
    void SetWidgetActionHidden(QWidget* widget, const QString& id, bool hidden);
    // The current value of a key; "" when it has none.
    QString GetKey(const QString& key) const;

    // Empties the bar down to the status part and forgets the set on it.
    void Clear();
    void ClearAndDeleteActions();
    void ChangeSet(QWidget* widget, const QString& setName);
    void AddSupportVandrellButton();

signals:
    void ActionTriggered(QWidget* ip_widget, QString i_action);

public slots:
    void OnActionTriggered(bool);
    void OnApplicationFocusChanged(QWidget* ip_oldWidget, QWidget* ip_widget);
    void OnSupportVandrellButtonClicked();
    void OnReceivedOwnPrivilegesStatus(int i_seconds);
    void OnWidgetDestroyed(QObject* ip_widget);
    void OnStatusButtonClicked();

private:
    ItemPtr WidgetItem(QWidget* widget) const;
    ItemPtr ActionOf(QAction* action) const;
    // The actions on the bar that stand for commands with that id.
    QList<QAction*> ActionsOfId(ItemPtr id) const;
    // Drops a destroyed widget's registration, so that a widget made later at the same
    // address does not inherit it.
    void ForgetWidget(ItemPtr widgetItem);
    void ApplySupporterLook(QPushButton* button) const;

    QString currentSet;
    ItemPtr currentWidgetItem;
    // Guarded: both can be destroyed by their views at any time.
    QPointer<QTreeWidget> contextTree;
    QPointer<QWidget> currentWidget;
    quint64 nextActionOrder = 0;
    bool handlingFocus = false;
    // Guarded: each rebuild of the bar schedules the previous buttons for deletion.
    QPointer<QPushButton> supportButton;
    QPointer<QPushButton> statusButton;
    bool initialised = false;
};

// The one tool bar; set by its constructor.
extern ActionSetToolBar* actionBar;
