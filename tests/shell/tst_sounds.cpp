#include <memory>

#include <QApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include "Data.h"
#include "DataSaver.h"
#include "EventToolBar.h"
#include "FileChooser.h"
#include "ItemPtr.h"
#include "MainWindow.h"
#include "MainWindowRun.h"
#include "Settings.h"
#include "SoundPlayer.h"
#include "ui_mainwindow.h"

namespace {
const char* const writeStoreVariable = "SOUNDS_TEST_WRITE_STORE";
const QString savedRoomSound = QString::fromUtf8("/saved/salle \u00e9t\u00e9.wav");

// Run in a child process: leaves a saved store with a room chat sound in the home folder.
int WriteSavedStore()
{
    DataSaver saver;
    Settings::DeclareTypes(d);
    EventToolBar bar;
    ItemPtr(d.GetType(EventToolBar::soundKindType)->GetItem("room_chat")) +=
        d.GetType(EventToolBar::soundFileType)->GetItem(Value(savedRoomSound));
    saver.Save(MainWindow::DataPathPrefix());
    return 0;
}

class RecordingPlayer : public SoundPlayer
{
public:
    explicit RecordingPlayer(QStringList& played) : played(played) {}
    void Play(const QString& path) override { played << path; }

private:
    QStringList& played;
};

// The kind, the edit and the button prefix of each row of the sounds page.
const char* const soundRows[][2] = {
    {"default", "defaultSound"},
    {"private_chat", "privateChatSound"},
    {"room_chat", "roomChatSound"},
    {"wishlist", "wishlistResultsSound"},
    {"browse", "shareBrowseSound"},
    {"download", "downloadAlertSound"},
    {"user_online", "userOnlineAlertSound"},
    {"user_info", "userInfoSound"},
};
} // namespace

class SoundsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<MainWindowRun> run;
    QString answer;
    QStringList captions;

    template <class T> T* Control(const QString& name)
    {
        return run->Window()->findChild<T*>(name);
    }

    void Choose(const QString& button, const QString& path)
    {
        answer = path;
        Control<QPushButton>(button)->click();
    }

    void AddSoundRowColumns()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("row");
        for (const auto& row : soundRows)
            QTest::newRow(row[0]) << row[0] << row[1];
    }

private slots:
    void initTestCase()
    {
        run = std::make_unique<MainWindowRun>();
        QProcess writer;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", run->Home());
        environment.insert(writeStoreVariable, "1");
        writer.setProcessEnvironment(environment);
        writer.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(writer.waitForFinished(60000));
        QCOMPARE(writer.exitCode(), 0);
        FileChooser::SetHandlerForTesting([this](FileChooser::Kind kind, const QString& caption) {
            captions << caption;
            return kind == FileChooser::Kind::OpenFile ? answer : QString();
        });
        run->Start();
    }

    void cleanupTestCase()
    {
        FileChooser::SetHandlerForTesting({});
        run.reset();
    }

    void fillsRowsFromSavedStoreAtStart()
    {
        QCOMPARE(Control<QLineEdit>("roomChatSoundEdit")->text(), savedRoomSound);
        QCOMPARE(Control<QLineEdit>("defaultSoundEdit")->text(), QString());
        // Every kind has its item from the start, saved or not.
        QCOMPARE(d.GetType(EventToolBar::soundKindType)->ItemCount(), size_t(8));
    }

    void eventBarHasARowOfItsOwnBelowTheContextBar()
    {
        QCOMPARE(run->Window()->toolBarArea(eventToolBar), Qt::TopToolBarArea);
        QVERIFY(run->Window()->toolBarBreak(eventToolBar));
        QVERIFY(eventToolBar->isHidden());
    }

    void selectWritesItemAndField_data() { AddSoundRowColumns(); }

    void selectWritesItemAndField()
    {
        QFETCH(QString, kind);
        QFETCH(QString, row);
        const QString first = QString::fromUtf8("/home/alice/sons/premi\u00e8re %1.wav").arg(kind);
        captions.clear();
        Choose(row + "SelectFileButton", first);
        QCOMPARE(captions, QStringList{"Select Wave File"});
        QCOMPARE(Control<QLineEdit>(row + "Edit")->text(), first);
        QCOMPARE(EventToolBar::OwnSoundFileOf(kind), first);
        const QString second = "/home/alice/second " + kind + ".wav";
        Choose(row + "SelectFileButton", second);
        const ItemPtr kindItem = d.GetType(EventToolBar::soundKindType)->HasItem(Value(kind));
        QCOMPARE(kindItem.GetItems(EventToolBar::soundFileType).Size(), size_t(1));
        QCOMPARE(EventToolBar::OwnSoundFileOf(kind), second);
    }

    void clearEmptiesItemAndFieldOfItsRowOnly_data() { AddSoundRowColumns(); }

    void clearEmptiesItemAndFieldOfItsRowOnly()
    {
        QFETCH(QString, kind);
        QFETCH(QString, row);
        for (const auto& other : soundRows)
            Choose(QString(other[1]) + "SelectFileButton", QString("/s/%1.wav").arg(other[0]));
        Control<QPushButton>(row + "ClearButton")->click();
        QCOMPARE(Control<QLineEdit>(row + "Edit")->text(), QString());
        QCOMPARE(EventToolBar::OwnSoundFileOf(kind), QString());
        for (const auto& other : soundRows)
            if (kind != other[0])
                QCOMPARE(EventToolBar::OwnSoundFileOf(other[0]),
                         QString("/s/%1.wav").arg(other[0]));
    }

    void cancelledChooserChangesNothing()
    {
        Choose("userInfoSoundSelectFileButton", "/s/kept.wav");
        Choose("selectPictureButton", "/p/kept.png");
        Choose("userInfoSoundSelectFileButton", "");
        Choose("selectPictureButton", "");
        QCOMPARE(EventToolBar::OwnSoundFileOf("user_info"), QString("/s/kept.wav"));
        QCOMPARE(Control<QLineEdit>("userInfoSoundEdit")->text(), QString("/s/kept.wav"));
        QCOMPARE(Settings::GetText("user_picture_file"), QString("/p/kept.png"));
        QCOMPARE(Control<QLineEdit>("userPictureFilenameEdit")->text(), QString("/p/kept.png"));
    }

    void pictureSelectAndClear()
    {
        const QString picture = QString::fromUtf8("/home/alice/\u00e9t\u00e9.png");
        captions.clear();
        Choose("selectPictureButton", picture);
        QCOMPARE(captions, QStringList{"Select Picture"});
        QCOMPARE(Settings::GetText("user_picture_file"), picture);
        QCOMPARE(Control<QLineEdit>("userPictureFilenameEdit")->text(), picture);
        for (int click = 0; click < 2; ++click)
        {
            Control<QPushButton>("clearPictureButton")->click();
            QVERIFY(Settings::Get("user_picture_file").IsNull());
            QCOMPARE(Control<QLineEdit>("userPictureFilenameEdit")->text(), QString());
        }
    }

    void nextEventPlaysTheChosenFile()
    {
        QStringList played;
        eventToolBar->SetSoundPlayer(std::make_unique<RecordingPlayer>(played));
        Choose("privateChatSoundSelectFileButton", "/s/new chat.wav");
        QWidget* hidden = run->Form()->sharesTab;
        QVERIFY(!hidden->isVisible());
        eventToolBar->AddEvent("bob", ":/icons/chat_icon", hidden, "", "private_chat", false);
        QCOMPARE(played, QStringList{"/s/new chat.wav"});
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(writeStoreVariable))
        return WriteSavedStore();
    SoundsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sounds.moc"
