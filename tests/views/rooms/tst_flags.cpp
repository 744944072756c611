#include <list>
#include <memory>

#include <QTreeWidget>
#include <QtTest>

#include "FakeCentralServer.h"
#include "MainWindowRun.h"
#include "RoomForm.h"
#include "RoomViews.h"
#include "RoomsForm.h"
#include "UserStats.h"
#include "ui_RoomForm.h"
#include "ui_RoomsForm.h"

namespace {
using ServerBytes::Fields;
using ServerBytes::Message;
using Names = std::list<QString>;
using Numbers = std::list<qint32>;
} // namespace

class FlagsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<MainWindowRun> run;

    RoomForm* Page(const QString& room)
    {
        QTabWidget* tabs = RoomViews::Rooms()->Form()->roomsTabControl;
        for (int index = 0; index < tabs->count(); ++index)
            if (auto* page = qobject_cast<RoomForm*>(tabs->widget(index)))
                if (page->Room() == room)
                    return page;
        return nullptr;
    }

private slots:
    void initTestCase()
    {
        RoomViews::Install();
        run = std::make_unique<MainWindowRun>();
        run->Start();
        QVERIFY(run->WaitLoggedIn());
    }

    void cleanupTestCase() { run.reset(); }

    void memberRowShowsTheCountrysFlag_data()
    {
        QTest::addColumn<QString>("country");
        QTest::addColumn<bool>("flag");
        QTest::newRow("upper case, as the server sends it") << "DE" << true;
        QTest::newRow("lower case") << "br" << true;
        QTest::newRow("no country") << "" << false;
        QTest::newRow("unknown code") << "ZZ" << false;
    }

    void memberRowShowsTheCountrysFlag()
    {
        QFETCH(QString, country);
        QFETCH(bool, flag);
        // A user of their own per row: a member's row shows the country known when it is made.
        const QString tag = QTest::currentDataTag();
        const QString room = "flags " + tag;
        UserStats stats;
        run->Server().SendRaw(Message(14, Fields(room, Names{"user " + tag}, Numbers{}, qint32(1),
                                                 stats, Numbers{}, Names{country})));
        QTRY_VERIFY(Page(room));
        QTreeWidget* list = Page(room)->Form()->userList;
        QTRY_COMPARE(list->topLevelItemCount(), 1);
        const QPixmap shown = list->topLevelItem(0)->icon(RoomForm::flagColumn).pixmap(16, 11);
        QCOMPARE(!shown.isNull(), flag);
    }
};

QTEST_MAIN(FlagsTest)
#include "tst_flags.moc"
