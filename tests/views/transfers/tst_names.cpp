#include <QHeaderView>
#include <QTextDocument>
#include <QToolTip>
#include <QtTest>

#include "CompleteDownloadsForm.h"
#include "GeneralFunctions.h"
#include "SharesForm.h"
#include "TransfersViewSetup.h"
#include "UploadForm.h"
#include "ui_CompleteDownloadsForm.h"
#include "ui_SharesForm.h"

using namespace TransferTypes;
using Complete = CompleteDownloadsForm;

// In the transfer trees also the depth of the name's row and its column.
constexpr int InUser = 0, InFolder = 1, InFile = 2, InRefusal = 3;

class TransferNamesTest : public QObject
{
    Q_OBJECT

    TransfersViewSetup setup;
    std::unique_ptr<UploadForm> uploadForm;
    int made = 0;

    // The shown tree with the name in its only row (the newest of the completed downloads), the
    // row, its column and the whole text behind it.
    std::tuple<QTreeWidget*, QTreeWidgetItem*, int, QString> Make(const QString& tree, int place,
                                                                  const QString& name)
    {
        auto pick = [&](int at, const char* plain) { return place == at ? name : plain; };
        QTreeWidget* list = tree == "downloads" ? setup.Downloads() : setup.Uploads();
        int column = place;
        QString whole = name;
        if (tree == "downloads")
        {
            ItemPtr entry = setup.Download(pick(InUser, "dan"), pick(InFile, "dan.mp3"),
                                           pick(InFolder, "music\\dan"));
            entry.Connect(d.GetType(denialReason)->GetItem(Value(pick(InRefusal, "Banned"))));
            setup.SetStatus(entry, TransferStatus::denied);
            whole = place == InRefusal ? name.toLower() : name;
        }
        else if (tree == "uploads")
        {
            const QString folder = "/shared/" + pick(InFolder, "uma");
            TransfersViewSetup::Share(folder, pick(InFile, "uma.mp3"), 100);
            setup.Upload(pick(InUser, "uma"), folder, pick(InFile, "uma.mp3"));
            whole = place == InFolder ? ReversePathname(folder) : name;
        }
        else if (tree == "complete")
        {
            ItemPtr done = d.GetType(completeDownload)->NewItem();
            const QDateTime time = QDateTime::currentDateTime().addSecs(++made);
            for (const auto& [type, value] : QList<QPair<const char*, QString>>{
                     {completeDownloadFilename, pick(InFile, "f")},
                     {completeDownloadRelativeFolder, pick(InFolder, "A")},
                     {ServerTypes::user, pick(InUser, "ann")},
                     {completeDownloadCompletionTime, time.toString(Qt::TextDate)}})
                done.Connect(d.GetType(type)->GetItem(Value(value)));
            emit setup.engine.manager->CompleteDownloadAdded(done);
            list = completeDownloadsForm->Form()->downloadList;
            column = std::array{Complete::UserColumn, Complete::FolderColumn,
                                Complete::FileColumn}[place];
        }
        else
        {
            using namespace SharesTypes;
            ItemPtr share = d.GetType(userShare)->NewItem();
            ItemPtr folder = share.NewItem(userShareFolder);
            folder.Connect(d.GetType(userShareFolderName)->GetItem(Value(pick(InFolder, "Own"))));
            folder.NewItem(userShareFile)
                .Connect(d.GetType(userShareFileName)->GetItem(Value(pick(InFile, "own.mp3"))));
            // A user has one upload tab at a time.
            uploadForm = std::make_unique<UploadForm>(QString("friend%1").arg(++made), nullptr);
            uploadForm->SetShare(share);
            uploadForm->show();
            uploadForm->FolderTree()->setCurrentItem(uploadForm->FolderTree()->topLevelItem(0));
            list = place == InFolder ? uploadForm->FolderTree() : uploadForm->FileList();
            column = 0;
        }
        QTreeWidgetItem* row = list->topLevelItem(0);
        const bool grouped = tree == "downloads" || tree == "uploads";
        for (int depth = 0; grouped && depth < std::min(place, InFile) && row; ++depth)
            row = row->child(0);
        QTabWidget* tabs = setup.form->Form()->transfersTabControl;
        for (QWidget* page = list; page; page = page->parentWidget())
            if (tabs->indexOf(page) >= 0)
                tabs->setCurrentWidget(page);
        return {list, row, column, whole};
    }

private slots:
    void initTestCase()
    {
        setup.Build();
        emit setup.engine.manager->TransfersLoaded();
        SharesForm::DeclareTypes();
        setup.form->OnActionBarTriggered(nullptr, "complete_downloads");
    }

    void cleanupTestCase() { setup.Destroy(); }

    void cleanup()
    {
        if (uploadForm)
        {
            ItemPtr share = uploadForm->Share();
            uploadForm.reset();
            ShareTreeForm::RemoveShareItems(share, 1 << 20);
        }
        setup.RemoveAll();
    }

    // What a peer may send: the length one "Download Folder" queued, line breaks, a direction
    // override, characters beyond 16 bits from an odd start so that both cuts split a pair, and
    // markup, which its tip shows as written.
    void showsHostileNameOnOneOrdinaryRow_data()
    {
        QTest::addColumn<QString>("tree");
        QTest::addColumn<int>("place");
        QTest::addColumn<QString>("name");
        const QList<QPair<const char*, QString>> names = {
            {"long", QString(65500, 'a') + "-middle-" + QString(65492, 'z')},
            {"line breaks", "top" + QString("\nline").repeated(20) + "\r\n\u2028\u2029\tend"},
            {"direction override", "evil\u202E3pm.exe\u2066x\u200F"},
            {"outside basic plane", "emoj" + QString::fromUcs4(U"\U0001F600").repeated(65498)},
            {"markup", "<b>bold\n<img src='x'>"}};
        const char* places[] = {"user", "folder", "file", "refusal"};
        for (QString tree : {"downloads", "uploads", "complete", "upload form"})
            for (int place = tree == "upload form"; place <= (tree == "downloads" ? 3 : 2); ++place)
                for (const auto& [kind, name] : names)
                    QTest::addRow("%s %s %s", qPrintable(tree), places[place], kind)
                        << tree << place << name;
    }

    void showsHostileNameOnOneOrdinaryRow()
    {
        QFETCH(QString, tree);
        QFETCH(int, place);
        QFETCH(QString, name);
        const auto [list, row, column, whole] = Make(tree, place, name);
        QVERIFY(row && list->isVisible());
        QCOMPARE(row->text(column), ShownName(whole));
        // Its own height: that of the first row, which the tree gives every row, is another's.
        list->setUniformRowHeights(false);
        list->doItemsLayout();
        QVERIFY(list->visualItemRect(row).height() < 2 * list->fontMetrics().height());
        // The tip under the mouse as its label shows it; one put up first cannot pass for it.
        QToolTip::showText(list->viewport()->mapToGlobal(QPoint(1, 1)), "-", list->viewport());
        const QPoint point(list->header()->sectionViewportPosition(column) + 4,
                           list->visualItemRect(row).center().y());
        QHelpEvent help(QEvent::ToolTip, point, list->viewport()->mapToGlobal(point));
        QApplication::sendEvent(list->viewport(), &help);
        QTextDocument tip;
        tip.setHtml(QToolTip::text());
        QCOMPARE(Qt::mightBeRichText(QToolTip::text()) ? tip.toPlainText() : QToolTip::text(),
                 whole);
    }

    void uploadTabTitleShowsUserOnOneLine()
    {
        SharesForm shares;
        const QString user = "evil\u202E\n" + QString(131000, 'a');
        QTabWidget* tabs = shares.Form()->tabControl;
        QCOMPARE(tabs->tabText(tabs->indexOf(shares.OpenUploadBrowse(user))),
                 ShownName("Upload to " + user));
    }
};

QTEST_MAIN(TransferNamesTest)
#include "tst_names.moc"
