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
#include "ItemPtr.h"
#include "Settings.h"
#include "SoundPlayer.h"
#include "TabWidget.h"

namespace {
class RecordingPlayer : public SoundPlayer
{
public:
    explicit RecordingPlayer(QStringList& played) : played(played) {}
    void Play(const QString& path) override { played << path; }

private:
    QStringList& played;
};

QStringList ButtonTexts(const EventToolBar* bar)
{
    QStringList texts;
    for (const QAction* action : bar->actions())
        if (!action->text().isEmpty())
            texts << action->text();
    return texts;
}

void SetSoundFile(const char* kind, const QString& path)
{
    ItemPtr item = d.GetType(EventToolBar::soundKindType)->GetItem(kind);
    item.Disconnect(EventToolBar::soundFileType);
    if (!path.isEmpty())
        item += d.GetType(EventToolBar::soundFileType)->GetItem(Value(path));
}
} // namespace

// A window with the view two tab levels deep: outer tab 1, inner tab 1.
class EventToolBarTest : public QObject
{
    Q_OBJECT

    QTemporaryDir home;
    std::unique_ptr<DataSaver> saver;
    QMainWindow window;
    TabWidget* outer = nullptr;
    TabWidget* inner = nullptr;
    QLineEdit* view = nullptr;
    EventToolBar* bar = nullptr;
    QStringList played, shownIcons, popups;

    void AddEvent(const QString& icon = ":/icons/chat_icon", const QString& kind = "room_chat",
                  bool allowAnother = false, const QString& text = "news")
    {
        bar->AddEvent(text, icon, view, "tray " + text, kind, allowAnother);
    }

    void SetActive(bool active)
    {
        QApplication::setActiveWindow(active ? &window : nullptr);
        QCOMPARE(window.isActiveWindow(), active);
    }

    void ShowView(bool shown)
    {
        outer->setCurrentIndex(shown ? 1 : 0);
        inner->setCurrentIndex(shown ? 1 : 0);
        QCOMPARE(view->isVisible(), shown);
    }

private slots:
    void initTestCase()
    {
        qputenv("HOME", home.path().toLocal8Bit());
        saver = std::make_unique<DataSaver>();
        Settings::DeclareTypes(d);
        outer = new TabWidget;
        outer->addTab(new QWidget, "Transfers");
        inner = new TabWidget;
        inner->addTab(new QWidget, "alpha");
        view = new QLineEdit;
        inner->addTab(view, "beta");
        outer->addTab(inner, "Rooms");
        window.setCentralWidget(outer);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }

    void init()
    {
        bar = new EventToolBar(nullptr);
        Settings::Set("show_event_buttons", "yes");
        SetSoundFile("default", "/sounds/default.wav");
        SetSoundFile("room_chat", "");
        played.clear();
        shownIcons.clear();
        popups.clear();
        window.addToolBar(bar);
        bar->SetSoundPlayer(std::make_unique<RecordingPlayer>(played));
        bar->SetWindowCalls({[this](const QString& icon) { shownIcons << icon; },
                             [this] { shownIcons << "normal"; },
                             [this](const QString& message) { popups << message; }});
        ShowView(false);
        for (TabWidget* tabs : {outer, inner})
            tabs->tabBar()->setTabTextColor(1, QColor());
    }

    void cleanup() { delete bar; }

    void marksEveryEnclosingTabOfHiddenView()
    {
        SetActive(true);
        AddEvent();
        QCOMPARE(outer->tabBar()->tabTextColor(1), QColor(Qt::blue));
        QCOMPARE(inner->tabBar()->tabTextColor(1), QColor(Qt::blue));
        QVERIFY(outer->tabBar()->tabTextColor(0) != QColor(Qt::blue));
    }

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
        Settings::Set("show_event_buttons", Value(showButtons));
        ShowView(visible);
        SetActive(active);
        AddEvent();
        QTEST(bar->IsAlerting(), "blinks");
        QFETCH(bool, alerts);
        QCOMPARE(popups, alerts ? QStringList{"tray news"} : QStringList());
        QCOMPARE(played, alerts ? QStringList{"/sounds/default.wav"} : QStringList());
        QFETCH(bool, button);
        QCOMPARE(ButtonTexts(bar), button ? QStringList{"news"} : QStringList());
        QCOMPARE(bar->isHidden(), !button);
    }

    void playsKindsOwnFileElseDefault_data()
    {
        QTest::addColumn<QString>("kindFile");
        QTest::addColumn<QString>("defaultFile");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("own file") << "/s/room.wav"
                                  << "/s/default.wav"
                                  << "room_chat" << QStringList{"/s/room.wav"};
        QTest::newRow("default file") << ""
                                      << "/s/default.wav"
                                      << "room_chat" << QStringList{"/s/default.wav"};
        QTest::newRow("no file") << ""
                                 << ""
                                 << "room_chat" << QStringList();
        QTest::newRow("no kind") << "/s/room.wav"
                                 << "/s/default.wav"
                                 << "" << QStringList();
    }

    void playsKindsOwnFileElseDefault()
    {
        QFETCH(QString, kindFile);
        QFETCH(QString, defaultFile);
        QFETCH(QString, kind);
        SetSoundFile("room_chat", kindFile);
        SetSoundFile("default", defaultFile);
        SetActive(false);
        AddEvent(":/icons/chat_icon", kind);
        QTEST(played, "expected");
    }

    void blinkCyclesIconsThenNormalUntilFocusChanges()
    {
        SetActive(false);
        AddEvent(":/icons/b");
        AddEvent(":/icons/a", "room_chat", true);
        AddEvent(":/icons/b", "room_chat", true);
        for (int tick = 0; tick < 4; ++tick)
            bar->OnIconAlertTimeout();
        QCOMPARE(shownIcons, (QStringList{":/icons/a", ":/icons/b", "normal", ":/icons/a"}));
        SetActive(true);
        view->setFocus();
        QVERIFY(!bar->IsAlerting());
        QCOMPARE(shownIcons.last(), QString("normal"));
        const int shown = shownIcons.size();
        bar->OnIconAlertTimeout();
        QCOMPARE(shownIcons.size(), shown);
    }

    void oneButtonPerViewUnlessAllowed_data()
    {
        QTest::addColumn<bool>("allowAnother");
        QTest::addColumn<QStringList>("buttons");
        QTest::newRow("one") << false << QStringList{"first"};
        QTest::newRow("each") << true << QStringList{"first", "second"};
    }

    void oneButtonPerViewUnlessAllowed()
    {
        QFETCH(bool, allowAnother);
        SetActive(true);
        AddEvent(":/icons/chat_icon", "", allowAnother, "first");
        AddEvent(":/icons/chat_icon", "", allowAnother, "second");
        QTEST(ButtonTexts(bar), "buttons");
    }

    void buttonBringsViewForwardAndGoes()
    {
        SetActive(true);
        AddEvent(":/icons/chat_icon", "", true, "first");
        AddEvent(":/icons/chat_icon", "", true, "second");
        bar->actions().first()->trigger();
        QCOMPARE(ButtonTexts(bar), QStringList{"second"});
        QCOMPARE(outer->currentIndex(), 1);
        QCOMPARE(inner->currentIndex(), 1);
        QVERIFY(view->isVisible());
        QVERIFY(!bar->isHidden());
        bar->actions().first()->trigger();
        QCOMPARE(ButtonTexts(bar), QStringList());
        QVERIFY(bar->isHidden());
    }

    void shownViewRemovesItsButtons()
    {
        SetActive(true);
        AddEvent(":/icons/chat_icon", "", true, "first");
        AddEvent(":/icons/chat_icon", "", true, "second");
        bar->RemoveEvents(view);
        QCOMPARE(ButtonTexts(bar), QStringList());
        QVERIFY(bar->isHidden());
        // The view may now collect a button again.
        AddEvent(":/icons/chat_icon", "", false, "third");
        QCOMPARE(ButtonTexts(bar), QStringList{"third"});
    }

    void destroyedViewTakesItsButtons()
    {
        SetActive(true);
        auto* doomed = new QLineEdit;
        inner->addTab(doomed, "gamma");
        bar->AddEvent("gone", ":/icons/chat_icon", doomed, "", "", false);
        AddEvent(":/icons/chat_icon", "", false, "stays");
        delete doomed;
        QCOMPARE(ButtonTexts(bar), QStringList{"stays"});
        bar->RemoveEvents(view);
        QVERIFY(bar->isHidden());
    }
};

QTEST_MAIN(EventToolBarTest)
#include "tst_event_toolbar.moc"
