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
#include "MainWindow.h"
#include "MainWindowRun.h"
#include "Settings.h"

namespace {
const char* const writeStoreVariable = "SOUNDS_TEST_WRITE_STORE";
const QString savedSound = QString::fromUtf8("/saved/salle \u00e9t\u00e9.wav");

// Run in a child process: leaves a saved store with a room chat sound in the home folder.
int WriteSavedStore()
{
    DataSaver saver;
    Settings::DeclareTypes(d);
    EventToolBar bar;
    ItemPtr(d.GetType(EventToolBar::soundKindType)->GetItem("room_chat")) +=
        d.GetType(EventToolBar::soundFileType)->GetItem(Value(savedSound));
    saver.Save(MainWindow::DataPathPrefix());
    return 0;
}

ItemPtr Make(const QString& type, const QString& value)
{
    Type* itemType = d.GetType(type.toStdString());
    return itemType->isNull ? itemType->NewItem() : itemType->GetItem(Value(value));
}

// Each row of the sounds page: its kind and the prefix of its controls' names.
const char* const rows[][2] = {
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

    QString Text(const QString& edit) { return run->Window()->findChild<QLineEdit*>(edit)->text(); }

    void Click(const QString& button, const QString& chosen = QString())
    {
        answer = chosen;
        run->Window()->findChild<QPushButton*>(button)->click();
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
        FileChooser::SetHandlerForTesting(
            [this](FileChooser::Kind, const QString&) { return answer; });
        run->Start();
    }

    void cleanupTestCase() { FileChooser::SetHandlerForTesting({}); }

    void startFillsRowsAndPlacesEventBar()
    {
        QCOMPARE(Text("roomChatSoundEdit"), savedSound);
        QCOMPARE(Text("defaultSoundEdit"), QString());
        QCOMPARE(d.GetType(EventToolBar::soundKindType)->ItemCount(), size_t(8));
        QCOMPARE(run->Window()->toolBarArea(eventToolBar), Qt::TopToolBarArea);
        QVERIFY(run->Window()->toolBarBreak(eventToolBar));
        QVERIFY(eventToolBar->isHidden());
    }

    void rowsSelectReplaceAndClearTheirOwnFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("row");
        for (const auto& row : rows)
            QTest::newRow(row[0]) << row[0] << row[1];
    }

    void rowsSelectReplaceAndClearTheirOwnFile()
    {
        QFETCH(QString, kind);
        QFETCH(QString, row);
        for (const auto& other : rows)
            Click(QString(other[1]) + "SelectFileButton", QString("/s/%1.wav").arg(other[0]));
        const QString chosen = QString::fromUtf8("/home/alice/\u00e9t\u00e9 %1.wav").arg(kind);
        Click(row + "SelectFileButton", chosen);
        Click(row + "SelectFileButton"); // cancelled
        QCOMPARE(Text(row + "Edit"), chosen);
        QCOMPARE(EventToolBar::OwnSoundFileOf(kind), chosen);
        Click(row + "ClearButton");
        QCOMPARE(Text(row + "Edit"), QString());
        QCOMPARE(EventToolBar::OwnSoundFileOf(kind), QString());
        for (const auto& other : rows)
            if (kind != other[0])
                QCOMPARE(EventToolBar::OwnSoundFileOf(other[0]),
                         QString("/s/%1.wav").arg(other[0]));
    }

    // Whether an item keeps its first partner of the other type when given a second.
    void windowTypesHoldPartners_data()
    {
        QTest::addColumn<QString>("holder");
        QTest::addColumn<QString>("partner");
        QTest::addColumn<bool>("holdsMany");
        const std::tuple<const char*, const char*, bool> rows[] = {
            {"user", "user_note", false},
            {"user_note", "user", true},
            {"wish_list_item", "wish_list_item_enabled", false},
            {"user", "user_chat_widget", false},
            {"room", "chat_log_form", false},
            {"chat_log_form", "user", false}};
        for (const auto& [holder, partner, many] : rows)
            QTest::addRow("%s, %s", holder, partner) << QString(holder) << QString(partner) << many;
    }

    void windowTypesHoldPartners()
    {
        QFETCH(QString, holder);
        QFETCH(QString, partner);
        const QString tag = QTest::currentDataTag();
        const ItemPtr item = Make(holder, "h " + tag);
        const ItemPtr first = item += Make(partner, "1 " + tag);
        item += Make(partner, "2 " + tag);
        QTEST(item.IsConnected(first), "holdsMany");
    }

    void wishesAndNotesAreSaved()
    {
        Make("wish_list_item", "jazz standards") += Make("wish_list_item_enabled", "");
        Make("user", "bob") += Make("user_note", "lends records");
        Make("user", "bob") += Make("user_chat_widget", "40961");
        run->Window()->SaveData();
        const QFileInfoList files =
            QDir(run->Home())
                .entryInfoList({".Vandrell.*"}, QDir::Files | QDir::Hidden, QDir::Name);
        QFile file(files.value(files.size() - 1).filePath()); // the newest
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray saved = file.readAll();
        for (const char* kept :
             {"jazz standards", "wish_list_item_enabled", "lends records", "bob"})
            QVERIFY2(saved.contains(kept), kept);
        QVERIFY(!saved.contains("40961"));
    }

    void pictureSelectAndClear()
    {
        Click("selectPictureButton", "/home/alice/me.png");
        Click("selectPictureButton"); // cancelled
        QCOMPARE(Settings::GetText("user_picture_file"), QString("/home/alice/me.png"));
        QCOMPARE(Text("userPictureFilenameEdit"), QString("/home/alice/me.png"));
        Click("clearPictureButton");
        QVERIFY(Settings::Get("user_picture_file").IsNull());
        QCOMPARE(Text("userPictureFilenameEdit"), QString());
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
