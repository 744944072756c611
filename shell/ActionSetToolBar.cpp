#include "ActionSetToolBar.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <QUrl>
#include <QUrlQuery>

#include "ApplicationIcon.h"
#include "Data.h"
#include "Server.h"
#include "ServerTypes.h"
#include "Settings.h"
#include "ShellGlobals.h"

ActionSetToolBar* actionBar = nullptr;

namespace {
// Item types of the bar, all run-time.
const char* const actionSet = "toolbar_action_set";
const char* const action = "toolbar_action";
const char* const actionId = "toolbar_action_id";
const char* const actionOrder = "toolbar_action_order";
const char* const actionWidget = "toolbar_action_widget";
const char* const keyValuePair = "action_key_value_pair";
const char* const actionKey = "action_key";
const char* const actionValue = "action_value";
const char* const keyColumnPair = "action_key_column_pair";
const char* const actionColumn = "action_column";
const char* const activeKey = "active_action_key";
const char* const activeValue = "active_action_value";
const char* const widgetText = "widget_action_text";
const char* const widgetHidden = "widget_action_hidden";
const char* const actionObject = "toolbar_action_object";
const char* const actionIcon = "toolbar_action_icon";
const char* const actionText = "toolbar_action_text";
const char* const needsListSelection = "needs_list_selection";

const char* const showAwayInIcon = "show_away_status_in_application_icon";

const char* const onlineIcon = ":/icons/online_icon";
const char* const awayIcon = ":/icons/away_icon";
const char* const goldStarIcon = ":/icons/gold_star_icon";

const char* const supporterPage = "http://www.vandrell.net/qtlogin.php";

struct TypeDeclaration
{
    const char* name;
    bool valueless;
    Primacy primacy;
};

const TypeDeclaration types[] = {
    {actionSet, false, PrimacyRoot},
    {action, true, PrimacyRoot},
    {actionId, false, PrimacyRoot},
    {actionOrder, false, PrimacyLeaf},
    {actionWidget, false, PrimacyRoot},
    {keyValuePair, true, PrimacyRoot},
    {actionKey, false, PrimacyIntermediate},
    {actionValue, false, PrimacyLeaf},
    {keyColumnPair, true, PrimacyRoot},
    {actionColumn, false, PrimacyLeaf},
    {activeKey, false, PrimacyRoot},
    {activeValue, false, PrimacyLeaf},
    {widgetText, false, PrimacyLeaf},
    {widgetHidden, true, PrimacyLeaf},
    {actionObject, false, PrimacyIntermediate},
    {actionIcon, false, PrimacyLeaf},
    {actionText, false, PrimacyLeaf},
    {needsListSelection, true, PrimacyLeaf},
};

struct RelationDeclaration
{
    const char* from;
    const char* to;
    OneOrMany fromEnd;
    OneOrMany toEnd;
};

// {A, B, Many, One}: an A item has at most one B partner.
const RelationDeclaration relations[] = {
    {action, actionSet, Many, One},           {action, actionId, Many, One},
    {action, actionOrder, Many, One},         {action, actionIcon, Many, One},
    {action, actionText, Many, One},          {action, needsListSelection, Many, One},
    {actionWidget, actionSet, Many, One},     {keyValuePair, actionWidget, Many, One},
    {keyValuePair, actionKey, Many, One},     {keyValuePair, actionValue, Many, One},
    {keyColumnPair, actionWidget, Many, One}, {keyColumnPair, actionKey, Many, One},
    {keyColumnPair, actionColumn, Many, One}, {activeKey, activeValue, Many, One},
    {widgetText, actionWidget, Many, Many},   {widgetText, actionId, Many, Many},
    {widgetHidden, actionWidget, Many, One},  {widgetHidden, actionId, Many, One},
    {action, actionObject, One, One},
};

Type* T(const char* name)
{
    return d.GetType(name);
}

void DeclareTypes()
{
    // A bar made again in the same store (as tests do) finds its types there.
    if (d.HasType(actionSet))
        return;
    for (const TypeDeclaration& type : types)
        d.NewType(type.name, type.primacy, type.valueless, true);
    for (const RelationDeclaration& relation : relations)
        T(relation.from)->RelateToType(T(relation.to), relation.fromEnd, relation.toEnd, false);
}

// The item connected to both, or null.
ItemPtr CommonItem(ItemPtr a, ItemPtr b, const char* type)
{
    if (a.IsNull() || b.IsNull())
        return ItemPtr();
    return d.GetItem(a, b, type);
}

void SetActiveKey(const Value& key, const Value& value)
{
    ItemPtr(T(activeKey)->GetItem(key)) += T(activeValue)->GetItem(value);
}

void ShowAvailability(QPushButton* button, bool available)
{
    button->setIcon(QIcon(available ? onlineIcon : awayIcon));
    button->setText(available ? ActionSetToolBar::tr("Available") : ActionSetToolBar::tr("Away"));
}

bool IsAvailable()
{
    return Settings::GetText(ServerSettings::availabilityStatus) == "available";
}

// A tab widget or its tab bar stands for its current page, through nested tab widgets.
QWidget* CurrentPage(QWidget* widget)
{
    for (;;)
    {
        auto* tabs = qobject_cast<QTabWidget*>(widget);
        if (auto* bar = qobject_cast<QTabBar*>(widget))
            tabs = qobject_cast<QTabWidget*>(bar->parentWidget());
        if (!tabs || !tabs->currentWidget())
            return widget;
        widget = tabs->currentWidget();
    }
}
} // namespace

ActionSetToolBar::ActionSetToolBar(QWidget* parent) : QToolBar(parent)
{
    actionBar = this;
    connect(qApp, &QApplication::focusChanged, this, &ActionSetToolBar::OnApplicationFocusChanged);
    DeclareTypes();
    AddSupportVandrellButton();
}

ActionSetToolBar::~ActionSetToolBar()
{
    // Deleting the bar's children can move the focus while this object is half destroyed.
    disconnect(qApp, nullptr, this, nullptr);
    if (actionBar == this)
        actionBar = nullptr;
}

void ActionSetToolBar::Init()
{
    if (gp_server)
        connect(gp_server, &Server::ReceivedOwnPrivilegesStatus, this,
                &ActionSetToolBar::OnReceivedOwnPrivilegesStatus, Qt::UniqueConnection);
    initialised = true;
}

void ActionSetToolBar::AddSetAction(const QString& setName, const QString& id, const QString& text,
                                    const QString& iconPath, bool needsSelection)
{
    ItemPtr item = T(action)->NewItem();
    item += T(actionSet)->GetItem(setName);
    item += T(actionId)->GetItem(id);
    item += T(actionIcon)->GetItem(iconPath);
    item += T(actionText)->GetItem(text);
    item += T(actionOrder)->GetItem(Value(nextActionOrder++));
    if (needsSelection)
        item += T(needsListSelection)->NewItem();
}

void ActionSetToolBar::AddSetAction(const SetAction& action)
{
    AddSetAction(action.set, action.id, tr(action.text), action.icon, action.needsSelection);
}

void ActionSetToolBar::RegisterWidget(QWidget* widget, const QString& setName)
{
    if (!widget)
        return;
    ItemPtr(T(actionWidget)->GetItem(Value(widget))) += T(actionSet)->GetItem(setName);
    connect(widget, &QObject::destroyed, this, &ActionSetToolBar::OnWidgetDestroyed,
            Qt::UniqueConnection);
}

void ActionSetToolBar::AddWidgetKey(QWidget* widget, const QString& key, const QString& value)
{
    ItemPtr widgetItem = WidgetItem(widget);
    if (widgetItem.IsNull())
        return;
    ItemPtr pair = T(keyValuePair)->NewItem();
    pair += T(actionKey)->GetItem(key);
    pair += T(actionValue)->GetItem(value);
    pair += widgetItem;
}

void ActionSetToolBar::AddWidgetColumnKey(QWidget* widget, const QString& key, int column)
{
    ItemPtr widgetItem = WidgetItem(widget);
    if (widgetItem.IsNull())
        return;
    ItemPtr pair = T(keyColumnPair)->NewItem();
    pair += T(actionKey)->GetItem(key);
    pair += T(actionColumn)->GetItem(Value(column));
    pair += widgetItem;
}

void ActionSetToolBar::SetWidgetActionText(QWidget* widget, const QString& id, const QString& text)
{
    if (g_showIsOver)
        return;
    ItemPtr widgetItem = WidgetItem(widget);
    ItemPtr idItem = T(actionId)->HasItem(id);
    if (widgetItem.IsNull() || idItem.IsNull())
        return;
    // The old text item may still serve other widgets: only this widget lets go of it.
    ItemPtr previous = CommonItem(widgetItem, idItem, widgetText);
    if (!previous.IsNull())
        widgetItem.Disconnect(previous);
    ItemPtr textItem = T(widgetText)->GetItem(text);
    textItem += widgetItem;
    textItem += idItem;
    if (widget != currentWidget)
        return;
    for (QAction* shown : ActionsOfId(idItem))
        shown->setText(text);
}

void ActionSetToolBar::SetWidgetActionHidden(QWidget* widget, const QString& id, bool hidden)
{
    ItemPtr widgetItem = WidgetItem(widget);
    ItemPtr idItem = T(actionId)->HasItem(id);
    if (widgetItem.IsNull() || idItem.IsNull())
        return;
    ItemPtr mark = CommonItem(widgetItem, idItem, widgetHidden);
    if (hidden == !mark.IsNull())
        return;
    if (hidden)
    {
        mark = T(widgetHidden)->NewItem();
        mark += widgetItem;
        mark += idItem;
    }
    else
        mark.Remove();
    if (widget != currentWidget)
        return;
    for (QAction* shown : ActionsOfId(idItem))
        shown->setVisible(!hidden);
}

QString ActionSetToolBar::GetKey(const QString& key) const
{
    return ItemPtr(T(activeKey)->HasItem(key))[activeValue].AsString();
}

void ActionSetToolBar::Clear()
{
    currentSet.clear();
    ClearAndDeleteActions();
}

void ActionSetToolBar::ClearAndDeleteActions()
{
    const QList<QAction*> shown = actions();
    for (QAction* old : shown)
    {
        removeAction(old);
        old->deleteLater();
    }
    // No item may name an action that is gone: a new action can be made at its address.
    T(actionObject)->GetItems().Remove();

    auto* button = new QPushButton;
    button->setObjectName("statusButton");
    ShowAvailability(button, IsAvailable());
    button->setFocusPolicy(Qt::NoFocus);
    statusButton = button;
    addWidget(button);
    addWidget(new QLabel(" "));
    connect(button, &QPushButton::clicked, this, &ActionSetToolBar::OnStatusButtonClicked);
}

void ActionSetToolBar::ChangeSet(QWidget* widget, const QString& setName)
{
    if (setName == currentSet && widget == currentWidget)
        return;
    currentSet = setName;
    currentWidget = widget;
    ClearAndDeleteActions();

    ItemPtr widgetItem = WidgetItem(widget);
    ItemPtr setItem = T(actionSet)->HasItem(setName);
    for (ItemPtr item : setItem.GetItems(action).SortNumericBy(actionOrder, true))
    {
        ItemPtr id = item[actionId];
        ItemPtr replacement = CommonItem(widgetItem, id, widgetText);
        const QString text = (replacement.IsNull() ? item[actionText] : replacement).AsString();
        QAction* shown = addAction(QIcon(item[actionIcon].AsString()), text);
        if (!CommonItem(widgetItem, id, widgetHidden).IsNull())
            shown->setVisible(false);
        connect(shown, &QAction::triggered, this, &ActionSetToolBar::OnActionTriggered);
        ItemPtr(T(actionObject)->GetItem(Value(shown))) += item;
    }
    AddSupportVandrellButton();
}

void ActionSetToolBar::AddSupportVandrellButton()
{
    addAction(QString());
    auto* spacer = new QWidget;
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    auto* button = new QPushButton;
    button->setObjectName("supportButton");
    supportButton = button;
    // The first bar is made before the settings exist.
    if (d.HasType(Settings::global))
        ApplySupporterLook(button);
    button->setFocusPolicy(Qt::NoFocus);
    addWidget(spacer);
    addWidget(button);
    connect(button, &QPushButton::clicked, this, &ActionSetToolBar::OnSupportVandrellButtonClicked);
}

void ActionSetToolBar::OnActionTriggered(bool)
{
    ItemPtr item = ActionOf(qobject_cast<QAction*>(sender()));
    if (item.IsNull())
        return;
    if (contextTree)
    {
        const QList<QTreeWidgetItem*> selected = contextTree->selectedItems();
        if (selected.isEmpty() && !item[needsListSelection].IsNull())
            return;
        if (!selected.isEmpty())
        {
            QTreeWidgetItem* row = selected.first();
            for (ItemPtr pair : currentWidgetItem.GetItems(keyColumnPair))
            {
                const int column = pair[actionColumn].AsInt();
                const bool inRange = column >= 0 && column < row->columnCount();
                SetActiveKey(pair[actionKey].AsStdString(),
                             Value(inRange ? row->text(column) : QString()));
            }
        }
    }
    emit ActionTriggered(currentWidget, item[actionId].AsString());
}

void ActionSetToolBar::OnApplicationFocusChanged(QWidget*, QWidget* ip_widget)
{
    if (!initialised || g_showIsOver || handlingFocus || !ip_widget)
        return;
    QScopedValueRollback<bool> handling(handlingFocus, true);

    contextTree = nullptr;
    QWidget* registered = CurrentPage(ip_widget);
    ItemPtr widgetItem;
    for (; registered; registered = registered->parentWidget())
    {
        if (!contextTree)
            contextTree = qobject_cast<QTreeWidget*>(registered);
        widgetItem = WidgetItem(registered);
        if (!widgetItem.IsNull())
            break;
    }
    if (!registered)
    {
        Clear();
        AddSupportVandrellButton();
        return;
    }
    currentWidgetItem = widgetItem;
    ChangeSet(registered, widgetItem[actionSet].AsString());
    for (ItemPtr pair : widgetItem.GetItems(keyValuePair))
        SetActiveKey(pair[actionKey].AsStdString(), pair[actionValue].AsStdString());
}

void ActionSetToolBar::OnSupportVandrellButtonClicked()
{
    QDesktopServices::openUrl(SupporterPage(Settings::GetText(ServerSettings::username)));
}

QUrl ActionSetToolBar::SupporterPage(const QString& username)
{
    // The name is encoded: a name holding "&" or "#" must not change the query.
    QUrl page(supporterPage);
    QUrlQuery query;
    query.addQueryItem("username", QString::fromUtf8(QUrl::toPercentEncoding(username)));
    page.setQuery(query);
    return page;
}

void ActionSetToolBar::OnReceivedOwnPrivilegesStatus(int)
{
    if (supportButton)
        ApplySupporterLook(supportButton);
}

void ActionSetToolBar::OnWidgetDestroyed(QObject* ip_widget)
{
    if (g_showIsOver)
        return;
    // destroyed() comes from ~QWidget, so the object is still a QWidget here.
    auto* widget = static_cast<QWidget*>(ip_widget);
    ItemPtr widgetItem = WidgetItem(widget);
    if (widget == currentWidget)
    {
        Clear();
        AddSupportVandrellButton();
        currentWidget = nullptr;
        contextTree = nullptr;
    }
    if (widgetItem == currentWidgetItem)
        currentWidgetItem = ItemPtr();
    ForgetWidget(widgetItem);
}

void ActionSetToolBar::OnStatusButtonClicked()
{
    if (!gp_server)
        return;
    const bool available = !IsAvailable();
    gp_server->SetAvailabilityStatus(available);
    if (statusButton)
        ShowAvailability(statusButton, available);
    if (!gp_server->IsConnected())
        return;
    if (available)
        SetApplicationIcon(onlineIcon);
    else if (Settings::IsYes(showAwayInIcon))
        SetApplicationIcon(awayIcon);
}

ItemPtr ActionSetToolBar::WidgetItem(QWidget* widget) const
{
    return widget ? ItemPtr(T(actionWidget)->HasItem(Value(widget))) : ItemPtr();
}

ItemPtr ActionSetToolBar::ActionOf(QAction* shown) const
{
    return shown ? ItemPtr(T(actionObject)->HasItem(Value(shown)))[action] : ItemPtr();
}

QList<QAction*> ActionSetToolBar::ActionsOfId(ItemPtr id) const
{
    QList<QAction*> found;
    for (QAction* shown : actions())
        if (ActionOf(shown)[actionId] == id)
            found.append(shown);
    return found;
}

void ActionSetToolBar::ForgetWidget(ItemPtr widgetItem)
{
    if (widgetItem.IsNull())
        return;
    widgetItem.GetItems(keyValuePair).Remove();
    widgetItem.GetItems(keyColumnPair).Remove();
    widgetItem.GetItems(widgetHidden).Remove();
    widgetItem.Remove();
}

void ActionSetToolBar::ApplySupporterLook(QPushButton* button) const
{
    const qint64 secondsLeft = Settings::Get(ServerSettings::privilegesTimeLeft).AsInt64();
    if (Settings::IsYes(ServerSettings::isSupporter))
    {
        button->setIcon(QIcon(goldStarIcon));
        button->setToolTip(tr("Thank you for supporting Vandrell!"));
    }
    else
        button->setText(tr("Support Vandrell!"));
    // Half a day or more counts as a whole day.
    if (secondsLeft > 0)
        button->setText(tr("%1 Days Left").arg((secondsLeft + 43200) / 86400));
}
