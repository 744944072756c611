#include <QHeaderView>
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

namespace {
// Where the name goes; in the transfer trees also the depth of its row and its column.
enum Place
{
    InUser,
    InFolder,
    InFile,
    InRefusal,
};

// What a hostile share or peer may send: the length one "Download Folder" queued, line breaks,
// a direction override that turns "exe" into "mp3", and characters beyond 16 bits (an odd start,
// so that both cuts fall inside a pair).
QString Hostile(const QString& kind)
{
    if (kind == "long")
        return QString(65500, 'a') + "-middle-" + QString(65492, 'z');
    if (kind == "line breaks")
        return "top" + QString("\nline").repeated(20) + "\r\n\u2028\u2029\tend";
    if (kind == "direction override")
        return QString("evil\u202E3pm.exe\u2066x\u200F");
    return "emoj" + QString::fromUcs4(U"\U0001F600").repeated(65498);
}

// The height a row takes of its own, whatever the first row says.
int OwnHeight(QTreeWidget* tree, QTreeWidgetItem* row)
{
    tree->setUniformRowHeights(false);
    tree->doItemsLayout();
    const int height = tree->visualItemRect(row).height();
    tree->setUniformRowHeights(true);
    tree->doItemsLayout();
    return height;
}

// The tip a user gets when the mouse rests on the cell.
QString TipAt(QTreeWidget* tree, QTreeWidgetItem* row, int column)
{
    // A tip already up, so that one left from before cannot pass for the cell's.
    QToolTip::showText(tree->viewport()->mapToGlobal(QPoint(1, 1)), "-", tree->viewport());
    const QPoint point(tree->header()->sectionViewportPosition(column) + 4,
                       tree->visualItemRect(row).center().y());
    QHelpEvent help(QEvent::ToolTip, point, tree->viewport()->mapToGlobal(point));
    QApplication::sendEvent(tree->viewport(), &help);
    return QToolTip::text();
}
} // namespace

// Names others chose, in the download and upload trees, the completed downloads and the upload
// tab: a row stays one line tall, a cell shows the name as ShownName gives it, the tip in whole.
class TransferNamesTest : public QObject
{
    Q_OBJECT

    TransfersViewSetup setup;
    std::unique_ptr<UploadForm> uploadForm;
    int made = 0;

    // The tree with the name in its only row (its newest, for the completed downloads), the
    // column that shows it, and the whole text behind that column.
    std::tuple<QTreeWidget*, int, QString> Make(const QString& tree, Place place,
                                                const QString& name)
    {
        auto pick = [&](Place at, const char* plain) { return place == at ? name : plain; };
        if (tree == "downloads")
        {
            ItemPtr entry = setup.Download(pick(InUser, "dan"), pick(InFile, "dan.mp3"),
                                           pick(InFolder, "music\\dan"));
            entry.Connect(d.GetType(denialReason)->GetItem(Value(pick(InRefusal, "Banned"))));
            setup.SetStatus(entry, TransferStatus::denied);
            return {setup.Downloads(), place, place == InRefusal ? name.toLower() : name};
        }
        if (tree == "uploads")
        {
            const QString folder = "/shared/" + pick(InFolder, "uma");
            TransfersViewSetup::Share(folder, pick(InFile, "uma.mp3"), 100);
            setup.Upload(pick(InUser, "uma"), folder, pick(InFile, "uma.mp3"));
            return {setup.Uploads(), place, place == InFolder ? ReversePathname(folder) : name};
        }
        if (tree == "complete")
        {
            if (!completeDownloadsForm)
                setup.form->OnActionBarTriggered(nullptr, "complete_downloads");
            ItemPtr done = d.GetType(completeDownload)->NewItem();
            done.Connect(d.GetType(completeDownloadFilename)->GetItem(Value(pick(InFile, "f"))));
            done.Connect(
                d.GetType(completeDownloadRelativeFolder)->GetItem(Value(pick(InFolder, "A"))));
            done.Connect(d.GetType(ServerTypes::user)->GetItem(Value(pick(InUser, "ann"))));
            const QDateTime time = QDateTime::currentDateTime().addSecs(++made);
            done.Connect(d.GetType(completeDownloadCompletionTime)
                             ->GetItem(Value(time.toString(Qt::TextDate))));
            emit setup.engine.manager->CompleteDownloadAdded(done);
            const int columns[] = {CompleteDownloadsForm::UserColumn,
                                   CompleteDownloadsForm::FolderColumn,
                                   CompleteDownloadsForm::FileColumn};
            return {completeDownloadsForm->Form()->downloadList, columns[place], name};
        }
        using namespace SharesTypes;
        ItemPtr share = d.GetType(userShare)->NewItem();
        ItemPtr folder = share.NewItem(userShareFolder);
        folder.Connect(d.GetType(userShareFolderName)->GetItem(Value(pick(InFolder, "Own"))));
        folder.NewItem(userShareFile)
            .Connect(d.GetType(userShareFileName)->GetItem(Value(pick(InFile, "own.mp3"))));
        // A user of its own per tab: a user has one upload tab at a time.
        uploadForm = std::make_unique<UploadForm>(QString("friend%1").arg(++made), nullptr);
        uploadForm->SetShare(share);
        uploadForm->resize(1000, 500);
        uploadForm->show();
        uploadForm->FolderTree()->setCurrentItem(uploadForm->FolderTree()->topLevelItem(0));
        return {place == InFolder ? uploadForm->FolderTree() : uploadForm->FileList(), 0, name};
    }

private slots:
    void initTestCase()
    {
        setup.Build();
        emit setup.engine.manager->TransfersLoaded();
        SharesForm::DeclareTypes();
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

    void showsHostileNameOnOneOrdinaryRow_data()
    {
        QTest::addColumn<QString>("tree");
        QTest::addColumn<int>("place");
        QTest::addColumn<QString>("kind");
        const QList<QPair<QString, QList<Place>>> trees = {
            {"downloads", {InUser, InFolder, InFile, InRefusal}},
            {"uploads", {InUser, InFolder, InFile}},
            {"complete", {InUser, InFolder, InFile}},
            {"upload form", {InFolder, InFile}},
        };
        const char* places[] = {"user", "folder", "file", "refusal"};
        for (const auto& [tree, treePlaces] : trees)
            for (Place place : treePlaces)
                for (const char* kind :
                     {"long", "line breaks", "direction override", "outside basic plane"})
                    QTest::addRow("%s %s %s", qPrintable(tree), places[place], kind)
                        << tree << int(place) << QString(kind);
    }

    void showsHostileNameOnOneOrdinaryRow()
    {
        QFETCH(QString, tree);
        QFETCH(int, place);
        QFETCH(QString, kind);
        const auto [list, column, whole] = Make(tree, Place(place), Hostile(kind));
        // User, folder and file rows of the transfer trees, one below the other.
        QTreeWidgetItem* row = list->topLevelItem(0);
        const bool grouped = tree == "downloads" || tree == "uploads";
        for (int depth = 0; grouped && depth < std::min(place, int(InFile)) && row; ++depth)
            row = row->child(0);
        QVERIFY(row);
        QTabWidget* tabs = setup.form->Form()->transfersTabControl;
        for (QWidget* page = list; page; page = page->parentWidget())
            if (tabs->indexOf(page) >= 0)
                tabs->setCurrentWidget(page);
        QVERIFY(list->isVisible());

        QVERIFY(row->text(column).size() <= maxShownNameLength);
        QCOMPARE(row->text(column), ShownName(whole));
        // One line tall, though the first row sets the height of all.
        const int line = list->fontMetrics().height();
        QVERIFY(OwnHeight(list, row) < 2 * line);
        QVERIFY(list->visualItemRect(list->topLevelItem(0)).height() < 2 * line);
        QCOMPARE(TipAt(list, row, column), whole);
    }

    void tipShowsMarkupAsWritten()
    {
        const QString name = "<b>bold</b>\n<img src='x'>";
        setup.Download("dan", name, "music\\dan");
        setup.form->Form()->transfersTabControl->setCurrentIndex(0);
        QTreeWidgetItem* row = setup.Downloads()->topLevelItem(0)->child(0)->child(0);
        QVERIFY(TipAt(setup.Downloads(), row, TransfersForm::FileColumn)
                    .contains(name.toHtmlEscaped()));
    }

    void uploadTabTitleShowsUserOnOneLine()
    {
        SharesForm shares;
        const QString user = "evil\u202E\n" + Hostile("long");
        QTabWidget* tabs = shares.Form()->tabControl;
        QCOMPARE(tabs->tabText(tabs->indexOf(shares.OpenUploadBrowse(user))),
                 ShownName("Upload to " + user));
    }
};

QTEST_MAIN(TransferNamesTest)
#include "tst_names.moc"
