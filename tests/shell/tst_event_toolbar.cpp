#include <memory>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QTabBar>
#include <QTemporaryDir>
#include <QtTest>

#include "Data.h"
#include "DataSaver.h"
#include "EventToolBar.h"
#include "Settings.h"
#include "SoundPlayer.h"
#include "TabWidget.h"

namespace {
struct RecordingPlayer : SoundPlayer
{
    explicit RecordingPlayer(QStringList& played) : played(played) {}
    void Play(const QString& path) override { played << path; }
    QStringList& played;
};

void SetSoundFile(const char* kind, const QString& path)
{
    ItemPtr item = d.GetType(EventToolBar::soundKindType)->GetItem(kind);
    item.Disconnect(EventToolBar::soundFileType);
    if (!path.isEmpty())
        item += d.GetType(EventToolBar::soundFileType)->GetItem(Value(path));
}
} // namespace

// The view lies two tab levels deep, on the second tab of each.
class EventToolBarTest : public QObject
{
    Q_OBJECT

    QTemporaryDir home;
    DataSaver saver;
    QMainWindow window;
    TabWidget* outer = new TabWidget;
    TabWidget* inner = new TabWidget;
    QLineEdit* view = new QLineEdit;
    EventToolBar* bar = nullptr;
    QStringList played, icons, popups;

    void Event(const QString& text, const QString& icon = ":/icons/a", bool allowAnother = true)
    {
        bar->AddEvent(text, icon, view, "tray " + text, "room_chat", allowAnother);
    }

    void Prepare(bool active, bool visible)
    {
        outer->setCurrentIndex(visible ? 1 : 0);
        inner->setCurrentIndex(visible ? 1 : 0);
        QApplication::setActiveWindow(active ? &window : nullptr);
        QCOMPARE(window.isActiveWindow(), active);
    }

    QStringList Buttons() const
    {
        QStringList texts;
        for (const QAction* action : bar->actions())
            if (!action->text().isEmpty())
                texts << action->text();
        return texts;
    }

private slots:
    void initTestCase()
    {
        qputenv("HOME", home.path().toLocal8Bit());
        Settings::DeclareTypes(d);
        outer->addTab(new QWidget, "Transfers");
        inner->addTab(new QWidget, "alpha");
        inner->addTab(view, "beta");
        outer->addTab(inner, "Rooms");
        window.setCentralWidget(outer);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }

    void init()
    {
        bar = new EventToolBar(nullptr);
        window.addToolBar(bar);
        bar->SetSoundPlayer(std::make_unique<RecordingPlayer>(played));
        bar->SetWindowCalls({[this](const QString& icon) { icons << icon; },
                             [this] { icons << "normal"; },
                             [this](const QString& message) { popups << message; }});
        Settings::Set("show_event_buttons", "yes");
        SetSoundFile("default", "/s/default.wav");
        SetSoundFile("room_chat", "");
        played.clear(), icons.clear(), popups.clear();
        for (TabWidget* tabs : {outer, inner})
            tabs->tabBar()->setTabTextColor(1, QColor());
    }

    void cleanup() { delete bar; }

    void effectsFollowWindowAndView_data()
    {
        QTest::addColumn<bool>("active");
        QTest::addColumn<bool>("visible");
        QTest::addColumn<QString>("showButtons");
        QTest::addColumn<bool>("blinks");
        QTest::addColumn<bool>("alerts"); // pop-up and sound
        QTest::addColumn<bool>("button");
        QTest::newRow("looked at") << true << true << "yes" << false << false << false;
        QTest::newRow("active, view hidden") << true << false << "yes" << false << true << true;
        QTest::newRow("inactive, view shown") << false << true << "yes" << true << true << false;
        QTest::newRow("inactive, view hidden") << false << false << "yes" << true << true << true;
        QTest::newRow("buttons off") << false << false << "no" << true << true << false;
    }

    void effectsFollowWindowAndView()
    {
        QFETCH(bool, active);
        QFETCH(bool, visible);
        QFETCH(QString, showButtons);
        QFETCH(bool, alerts);
        QFETCH(bool, button);
        Settings::Set("show_event_buttons", Value(showButtons));
        Prepare(active, visible);
        Event("news");
        QTEST(bar->IsAlerting(), "blinks");
        QCOMPARE(popups, alerts ? QStringList{"tray news"} : QStringList());
        QCOMPARE(played, alerts ? QStringList{"/s/default.wav"} : QStringList());
        QCOMPARE(Buttons(), button ? QStringList{"news"} : QStringList());
        QCOMPARE(bar->isHidden(), !button);
        for (TabWidget* tabs : {outer, inner})
            QCOMPARE(tabs->tabBar()->tabTextColor(1) == Qt::blue, !visible);
    }

    void playsKindsOwnFileElseDefault()
    {
        Prepare(false, false);
        SetSoundFile("room_chat", "/s/room.wav");
        Event("own");
        SetSoundFile("room_chat", "");
        Event("fallback");
        bar->AddEvent("no kind", ":/icons/a", view, "", "", true);
        SetSoundFile("default", "");
        Event("no file");
        QCOMPARE(played, (QStringList{"/s/room.wav", "/s/default.wav"}));
    }

    void blinkCyclesIconsThenNormalUntilFocusChanges()
    {
        Prepare(false, false);
        Event("one", ":/icons/b");
        Event("two", ":/icons/a");
        Event("three", ":/icons/b");
        for (int tick = 0; tick < 4; ++tick)
            bar->OnIconAlertTimeout();
        QCOMPARE(icons, (QStringList{":/icons/a", ":/icons/b", "normal", ":/icons/a"}));
        QApplication::setActiveWindow(&window);
        view->setFocus();
        QVERIFY(!bar->IsAlerting());
        bar->OnIconAlertTimeout();
        QCOMPARE(icons.mid(4), QStringList{"normal"});
    }

    void buttonsLeadToTheViewAndGo()
    {
        Prepare(true, false);
        Event("first", ":/icons/a", false);
        Event("refused", ":/icons/a", false);
        Event("second");
        QCOMPARE(Buttons(), (QStringList{"first", "second"}));
        bar->actions().first()->trigger();
        QCOMPARE(Buttons(), QStringList{"second"});
        QVERIFY(view->isVisible());
        bar->RemoveEvents(view);
        QVERIFY(bar->isHidden());
        Prepare(true, false);
        auto* doomed = new QLineEdit;
        inner->addTab(doomed, "gamma");
        bar->AddEvent("gone", ":/icons/a", doomed, "", "", false);
        Event("stays");
        delete doomed;
        QCOMPARE(Buttons(), QStringList{"stays"});
    }
};

QTEST_MAIN(EventToolBarTest)
#include "tst_event_toolbar.moc"
