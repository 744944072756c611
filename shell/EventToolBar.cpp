#include "EventToolBar.h"

#include <iterator>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QIcon>

#include "ApplicationIcon.h"
#include "Data.h"
#include "DataSaver.h"
#include "FocusWidget.h"
#include "ItemPtr.h"
#include "ItemSet.h"
#include "Settings.h"
#include "ShellGlobals.h"
#include "TabWidget.h"
#include "WaveSoundPlayer.h"

EventToolBar* eventToolBar = nullptr;

namespace {
// A button on the bar and the view it leads to, by address; run-time only.
const char* const actionType = "event_toolbar_action";
const char* const widgetType = "event_toolbar_widget";
const char* const showButtonsKey = "show_event_buttons";
constexpr int blinkIntervalMs = 1000;

// Widgets are keyed as objects: a widget being destroyed is by then only a QObject, and its
// address must still find its buttons.
Value AddressOf(const QObject* object)
{
    return Value(object);
}

Type* DeclareType(const char* name, Primacy primacy)
{
    Type* type = d.HasType(name);
    return type ? type : d.NewType(name, primacy, false, true);
}

void Relate(Type* many, Type* one)
{
    if (!many->FindRelation(one))
        many->RelateToType(one, Many, One, false);
}
} // namespace

EventToolBar::EventToolBar(QWidget* parent)
    : QToolBar(parent), player(std::make_unique<WaveSoundPlayer>())
{
    eventToolBar = this;
    setObjectName("eventToolBar");
    setMovable(false);
    Relate(DeclareType(actionType, PrimacyRoot), DeclareType(widgetType, PrimacyRoot));
    setIconSize(QSize(16, 16));
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    AddPlaceholder();
    connect(&alertTimer, &QTimer::timeout, this, &EventToolBar::OnIconAlertTimeout);
    connect(qApp, &QApplication::focusChanged, this, &EventToolBar::OnApplicationFocusChanged);
    hide();
    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);
    Relate(DeclareType(soundKindType, PrimacyRoot), DeclareType(soundFileType, PrimacyLeaf));
    if (dataSaver)
    {
        dataSaver->AddSavedType(soundKindType);
        dataSaver->AddSavedType(soundFileType);
    }
    windowCalls.showIcon = SetApplicationIcon;
}

EventToolBar::~EventToolBar()
{
    // The buttons go with the bar; their items must not outlive the addresses they hold.
    if (Type* actions = d.HasType(actionType))
        actions->GetItems().Remove();
    if (Type* widgets = d.HasType(widgetType))
        widgets->GetItems().Remove();
    if (eventToolBar == this)
        eventToolBar = nullptr;
}

void EventToolBar::AddEvent(const QString& text, const QString& iconPath, QWidget* widget,
                            const QString& trayMessage, const QString& soundKind, bool allowAnother)
{
    TabWidget::MarkTabActivity(widget);
    const bool active = window()->isActiveWindow();
    if (!active)
    {
        if (alertIcons.empty())
        {
            alertPhase = 0;
            alertTimer.start(blinkIntervalMs);
        }
        alertIcons.insert(iconPath);
    }
    const bool visible = widget && widget->isVisible();
    if (active && visible)
        return;
    if (!trayMessage.isEmpty() && windowCalls.popup)
        windowCalls.popup(trayMessage);
    if (!soundKind.isEmpty())
    {
        const QString file = SoundFileOf(soundKind);
        if (!file.isEmpty() && player)
            player->Play(file);
    }
    // A view the user sees needs no button, and without a view there is nowhere to lead to.
    if (visible || !widget)
        return;
    const bool hasButton = !ItemPtr(d.GetType(widgetType)->HasItem(AddressOf(widget))).IsNull();
    if (hasButton && !allowAnother)
        return;
    if (!Settings::IsYes(showButtonsKey))
        return;
    AddButton(text, iconPath, widget);
}

void EventToolBar::AddButton(const QString& text, const QString& iconPath, QWidget* widget)
{
    if (placeholderShown)
    {
        const QList<QAction*> placeholder = actions();
        clear();
        qDeleteAll(placeholder);
        placeholderShown = false;
    }
    QAction* action = addAction(QIcon(iconPath), text);
    connect(action, &QAction::triggered, this, &EventToolBar::OnActionTriggered);
    ItemPtr(d.GetType(actionType)->GetItem(AddressOf(action))) +=
        d.GetType(widgetType)->GetItem(AddressOf(widget));
    connect(widget, &QObject::destroyed, this, &EventToolBar::OnWidgetDestroyed,
            Qt::UniqueConnection);
    show();
}

void EventToolBar::RemoveEvents(QWidget* widget)
{
    if (widget)
        RemoveEventsOf(AddressOf(widget));
}

void EventToolBar::RemoveEventsOf(const Value& widgetAddress)
{
    const ItemPtr widgetItem = d.GetType(widgetType)->HasItem(widgetAddress);
    if (widgetItem.IsNull())
        return;
    const QList<QAction*> onBar = actions();
    for (ItemPtr actionItem : widgetItem.GetItems(actionType))
    {
        auto* action = actionItem.AsPointer<QAction>();
        // Only a button still on the bar is alive to be deleted.
        if (onBar.contains(action))
        {
            removeAction(action);
            action->deleteLater();
        }
        actionItem.Remove();
    }
    HideIfEmpty();
    widgetItem.Remove();
}

void EventToolBar::AddPlaceholder()
{
    addAction(QString());
    placeholderShown = true;
}

void EventToolBar::HideIfEmpty()
{
    if (!actions().isEmpty())
        return;
    AddPlaceholder();
    hide();
}

void EventToolBar::DataLoaded()
{}

QString EventToolBar::OwnSoundFileOf(const QString& kind)
{
    Type* kinds = d.HasType(soundKindType);
    if (!kinds)
        return QString();
    return ItemPtr(kinds->HasItem(Value(kind)))[soundFileType].AsString();
}

QString EventToolBar::SoundFileOf(const QString& kind)
{
    const QString own = OwnSoundFileOf(kind);
    return own.isEmpty() ? OwnSoundFileOf(defaultSoundKind) : own;
}

void EventToolBar::SetWindowCalls(WindowCalls calls)
{
    windowCalls = std::move(calls);
}

void EventToolBar::SetSoundPlayer(std::unique_ptr<SoundPlayer> soundPlayer)
{
    player = std::move(soundPlayer);
}

void EventToolBar::OnActionTriggered()
{
    if (g_showIsOver)
        return;
    auto* action = qobject_cast<QAction*>(sender());
    if (!action)
        return;
    const ItemPtr actionItem = d.GetType(actionType)->HasItem(AddressOf(action));
    const ItemPtr widgetItem = actionItem[widgetType];
    // Buttons are dropped when their widget is destroyed, so a listed widget is alive.
    auto* widget = qobject_cast<QWidget*>(widgetItem.AsPointer<QObject>());
    removeAction(action);
    // The clicked tool button is still delivering the click.
    action->deleteLater();
    HideIfEmpty();
    if (!actionItem.IsNull())
        actionItem.Remove();
    if (!widgetItem.IsNull() && !widgetItem.IsConnected(actionType))
        widgetItem.Remove();
    FocusWidget(widget);
}

void EventToolBar::OnWidgetDestroyed(QObject* ip_widget)
{
    if (g_showIsOver || !ip_widget)
        return;
    RemoveEventsOf(AddressOf(ip_widget));
}

void EventToolBar::OnIconAlertTimeout()
{
    if (alertIcons.empty())
        return;
    if (alertPhase >= static_cast<int>(alertIcons.size()))
    {
        alertPhase = 0;
        if (windowCalls.resetIcon)
            windowCalls.resetIcon();
        return;
    }
    const QString icon = *std::next(alertIcons.begin(), alertPhase);
    if (windowCalls.showIcon)
        windowCalls.showIcon(icon);
    ++alertPhase;
}

void EventToolBar::OnApplicationFocusChanged(QWidget*, QWidget*)
{
    if (g_showIsOver)
        return;
    alertIcons.clear();
    alertTimer.stop();
    if (windowCalls.resetIcon)
        windowCalls.resetIcon();
}
