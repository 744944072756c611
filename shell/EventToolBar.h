#pragma once

#include <functional>
#include <memory>
#include <set>

#include <QString>
#include <QTimer>
#include <QToolBar>

#include "DataLoadedEventHandler.h"
#include "Value.h"

class SoundPlayer;

// The second tool bar of the main window: one button per event the user has not seen yet
// (a chat line, a finished download, a user coming online). An event also marks the tabs that
// hold its view, blinks the application icon while the window is in the background, shows a
// tray message and plays the sound chosen for its kind. A button leads to its view and goes.
class EventToolBar : public QToolBar, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    // Kinds of events and the sound file chosen for each, saved.
    static constexpr const char* soundKindType = "event_sound";
    static constexpr const char* soundFileType = "event_sound_file";
    // The kind whose file plays for a kind without a file of its own.
    static constexpr const char* defaultSoundKind = "default";

    // What the bar asks of the window that shows the application icon and the tray.
    struct WindowCalls
    {
        std::function<void(const QString& iconPath)> showIcon;
        std::function<void()> resetIcon;
        std::function<void(const QString& message)> popup;
    };

    explicit EventToolBar(QWidget* parent = nullptr);
    ~EventToolBar() override;

    // Reports one event of the widget's view. An empty tray message or sound kind leaves that
    // part out; a widget gets a second button only when allowAnother is true.
    void AddEvent(const QString& text, const QString& iconPath, QWidget* widget,
                  const QString& trayMessage, const QString& soundKind, bool allowAnother);
    // Takes the widget's buttons off the bar; views call it when they are shown.
    void RemoveEvents(QWidget* widget);

    void DataLoaded() override;

    // The file chosen for the kind, else the default kind's; "" when neither has one.
    static QString SoundFileOf(const QString& kind);
    // The file chosen for the kind itself; "" when it has none.
    static QString OwnSoundFileOf(const QString& kind);

    void SetWindowCalls(WindowCalls calls);
    void SetSoundPlayer(std::unique_ptr<SoundPlayer> soundPlayer);
    bool IsAlerting() const { return alertTimer.isActive(); }

public slots:
    void OnActionTriggered();
    void OnWidgetDestroyed(QObject* ip_widget);
    void OnIconAlertTimeout();
    void OnApplicationFocusChanged(QWidget* ip_old, QWidget* ip_new);

private:
    // By address only: a widget being destroyed may no longer be a widget.
    void RemoveEventsOf(const Value& widgetAddress);
    void AddButton(const QString& text, const QString& iconPath, QWidget* widget);
    void AddPlaceholder();
    void HideIfEmpty();

    bool placeholderShown = true;
    std::set<QString> alertIcons;
    int alertPhase = 0;
    QTimer alertTimer;
    WindowCalls windowCalls;
    std::unique_ptr<SoundPlayer> player;
};

// The one event tool bar; set by its constructor.
extern EventToolBar* eventToolBar;
