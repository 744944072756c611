#include "SearchResultsForm.h"

#include <algorithm>
#include <vector>

#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>

#include "ActionSetToolBar.h"
#include "ClosedTabRemoval.h"
#include "Data.h"
#include "DelayedInvoker.h"
#include "EventToolBar.h"
#include "FilterHelpDialog.h"
#include "FilterParser.h"
#include "GeneralFunctions.h"
#include "Item.h"
#include "Log.h"
#include "PeerTypes.h"
#include "SearchResultListItem.h"
#include "SearchResultMenuOptions.h"
#include "SearchTypes.h"
#include "Server.h"
#include "Settings.h"
#include "SizeManager.h"
#include "TabFocus.h"
#include "UserMenuOptions.h"
#include "ViewAddress.h"
#include "WindowTypes.h"
#include "ui_SearchResultsForm.h"

using namespace PeerTypes;
using namespace SearchTypes;

namespace {
// The folder and file name of a result as the peer sent them, joined as a path.
QString FlatText(ItemPtr result)
{
    return result[searchResultFileFolder].AsString() + "\\" +
           result[searchResultFileName].AsString();
}
} // namespace

SearchResultsForm::SearchResultsForm(const QString& text, bool wishList, QWidget* parent)
    : QWidget(parent), ui(new Ui_SearchResultsForm), text(text), wishList(wishList),
      flat(Settings::IsYes(useOldStyleResults))
{
    ViewAddress::Enter(this);
    ui->setupUi(this);
    answerTimer.setSingleShot(true);
    connect(&answerTimer, &QTimer::timeout, this, &SearchResultsForm::AddWaitingAnswers);
    sinceRows.start();
    QTreeWidget* tree = ui->searchResultsTreeWidget;
    tree->setSortingEnabled(false);
    // Every row is one line of text: the view need not measure each row it lays out.
    tree->setUniformRowHeights(true);
    ui->correlationsWidget->hide();
    ui->correlationsWidget->setHeaderLabels({tr("related searches")});
    if (!wishList)
    {
        PopulateCorrelations();
        if (gp_server)
            connect(gp_server, &Server::SearchCorrelations, this,
                    &SearchResultsForm::OnSearchCorrelations);
    }
    if (flat)
    {
        if (actionBar)
            actionBar->RegisterWidget(this, "search_results_old");
        tree->header()->setSectionsClickable(true);
        tree->header()->setSortIndicatorShown(true);
        connect(tree->header(), &QHeaderView::sectionClicked, this,
                &SearchResultsForm::OnSectionClicked);
    }
    else
    {
        if (actionBar)
            actionBar->RegisterWidget(this, "search_results");
        tree->header()->setSectionsClickable(false);
    }
    tree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tree, &QTreeWidget::customContextMenuRequested, this,
            &SearchResultsForm::OnContextMenuRequested);
    connect(tree, &QTreeWidget::itemDoubleClicked, this, &SearchResultsForm::OnResultDoubleClicked);
    connect(ui->pushButton, &QPushButton::clicked, this, &SearchResultsForm::OnFilterHelpClicked);
    connect(ui->pushButton_2, &QPushButton::clicked, this,
            &SearchResultsForm::OnClearFilterClicked);
    connect(ui->savedFiltersBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &SearchResultsForm::OnSavedFiltersBoxIndexChanged);
    connect(ui->filterEdit, &QLineEdit::textChanged, this, &SearchResultsForm::OnFilterTextChanged);
    connect(ui->saveFilterButton, &QPushButton::clicked, this,
            &SearchResultsForm::OnSaveFilterClicked);
    connect(ui->defaultFilterBox, &QCheckBox::clicked, this,
            &SearchResultsForm::OnDefaultFilterBoxToggled);
}

SearchResultsForm::~SearchResultsForm()
{
    ViewAddress::Leave(this);
    delete ui;
}

QTreeWidget* SearchResultsForm::searchResults() const
{
    return ui->searchResultsTreeWidget;
}

QLineEdit* SearchResultsForm::filterEdit() const
{
    return ui->filterEdit;
}

QTreeWidget* SearchResultsForm::CorrelationsWidget() const
{
    return ui->correlationsWidget;
}

QList<QTreeWidgetItem*> SearchResultsForm::TakeRows()
{
    folderFiles.clear();
    fileRows = 0;
    answerTimer.stop();
    waitingAnswers.clear();
    waitingFiles = 0;
    QTreeWidget* tree = ui->searchResultsTreeWidget;
    // The view's expanded and hidden rows are kept by persistent index, which the model walks
    // on every removal: dropped first, they cost one pass instead.
    tree->reset();
    return tree->invisibleRootItem()->takeChildren();
}

ItemPtr SearchResultsForm::WidgetItem() const
{
    return d.GetType(resultsWidget)->HasItem(ViewAddress::Of(this));
}

ItemPtr SearchResultsForm::ResultOf(QTreeWidgetItem* row)
{
    if (!row)
        return ItemPtr();
    return ItemPtr(d.GetType(resultNode)->HasItem(Value(row)))[searchResult];
}

QString SearchResultsForm::SpeedText(long long bytesPerSecond)
{
    // A negative speed means nothing: it shows as none.
    if (bytesPerSecond <= 0)
        return QString();
    return QString::number(double(bytesPerSecond) / 1024.0, 'f', 1);
}

QString SearchResultsForm::AttributesText(ItemPtr file)
{
    QString attributes;
    if (file.IsConnected(bitrate))
        attributes += QString::number(file[bitrate].AsInt());
    const QString mode = file[bitrateMode].AsString();
    if (mode == "vbr")
        attributes += " VBR";
    else if (mode == "cbr")
        attributes += " CBR";
    if (file.IsConnected(lengthSeconds))
        attributes += ", " + FormatSeconds(long(file[lengthSeconds].AsInt64()));
    return attributes;
}

void SearchResultsForm::SetSortingParamters(int column, Qt::SortOrder order)
{
    sortColumn = column;
    sortOrder = order;
}

void SearchResultsForm::Sort()
{
    ui->searchResultsTreeWidget->sortByColumn(sortColumn, sortOrder);
    for (auto& [folderRow, files] : folderFiles)
        FollowTreeOrder(folderRow, files);
}

void SearchResultsForm::FollowTreeOrder(const QTreeWidgetItem* folderRow, FolderFiles& files)
{
    const int count = int(files.files.size());
    int same = 0;
    while (same < count && folderRow->child(same) == files.files[same].row)
        ++same;
    if (same == count)
        return;
    // Places by row address, searched rather than hashed: a folder may hold thousands of files.
    std::vector<std::pair<const QTreeWidgetItem*, int>> places;
    places.reserve(count);
    for (int index = 0; index < count; ++index)
        places.push_back({files.files[index].row, index});
    std::sort(places.begin(), places.end());
    std::vector<FileText> ordered;
    ordered.reserve(count);
    for (int r = 0; r < count; ++r)
    {
        const std::pair<const QTreeWidgetItem*, int> child(folderRow->child(r), 0);
        const auto place = std::lower_bound(places.begin(), places.end(), child);
        if (place == places.end() || place->first != child.first)
            return;
        ordered.push_back(std::move(files.files[place->second]));
    }
    files.files = std::move(ordered);
}

QModelIndex SearchResultsForm::IndexOf(QTreeWidgetItem* row) const
{
    QTreeWidget* tree = ui->searchResultsTreeWidget;
    QTreeWidgetItem* parent = row->parent();
    if (!parent)
        return tree->model()->index(tree->indexOfTopLevelItem(row), 0);
    return tree->model()->index(parent->indexOfChild(row), 0, IndexOf(parent));
}

void SearchResultsForm::OnSectionClicked(int i_column)
{
    sortColumn = i_column;
    sortOrder = ui->searchResultsTreeWidget->header()->sortIndicatorOrder();
    Sort();
}

void SearchResultsForm::Init()
{
    RegisterWidgetForTabFocus(ui->searchResultsTreeWidget, 2);
    for (ItemPtr filter : g(savedFilter))
        ui->savedFiltersBox->addItem(filter.AsString());
    Type* filters = d.GetType(savedFilter);
    Listen(filters->itemAdded, this, &SearchResultsForm::OnSavedFilterAdded);
    Listen(filters->itemRemoved, this, &SearchResultsForm::OnSavedFilterRemoved);
}

void SearchResultsForm::PopulateCorrelations()
{
    QTreeWidget* list = ui->correlationsWidget;
    list->clear();
    list->hide();
    ItemPtr searchText = d.GetType(searchRequestText)->NewItem(Value(text));
    const auto correlations =
        searchText.GetItems(PeerTypes::searchCorrelation).SortNumericBy("correlation_rank", false);
    if (correlations.empty())
        return;
    for (ItemPtr correlation : correlations)
        new QTreeWidgetItem(list, {correlation["correlation_text"].AsString()});
    list->show();
    const QList<int> sizes{width() - 150, 150};
    ui->splitter->setSizes(sizes);
    // A division the user dragged before wins over these defaults.
    if (sizeManager)
        sizeManager->RegisterSplitter("correlations_splitter", ui->splitter, sizes);
}

void SearchResultsForm::OnSearchCorrelations(QString i_search)
{
    if (i_search == text)
        PopulateCorrelations();
}

ItemPtr SearchResultsForm::NewNode(const char* type, QTreeWidgetItem* row)
{
    return d.GetType(type)->NewItem(Value(row));
}

SearchResultsForm::AnswerRows::AnswerRows(ItemPtr widgetItem, ItemPtr answerItem)
    : widget(widgetItem), answer(answerItem), folderType(d.GetType(searchResultFileFolder)),
      nameType(d.GetType(searchResultFileName)), sizeType(d.GetType(fileSize)),
      bitrateType(d.GetType(bitrate)), resultNodeType(d.GetType(resultNode)),
      expandUsers(widget[SearchTypes::expandUsers].AsString() == "yes"),
      expandFolders(widget[SearchTypes::expandFolders].AsString() == "yes")
{}

void SearchResultsForm::AddUserSearchResults(ItemPtr results)
{
    const int files = int(results.GetItems(searchResult).Size());
    if (FileRowCount() + files > maxFileRows)
    {
        Log("Search", 1,
            QString("Dropped an answer of %1 files from %2 to the search \"%3\": the tab is full")
                .arg(files)
                .arg(results[ServerTypes::user].AsString(), text));
        // Nothing will show these results: keep none of them until the tab closes.
        ClosedTabRemoval::RemoveAnswer(results);
        return;
    }
    waitingAnswers.append(results);
    waitingFiles += files;
    const int delay = AnswerDelay();
    if (delay == 0 || waitingFiles >= maxWaitingFiles)
        AddWaitingAnswers();
    else if (!answerTimer.isActive())
        answerTimer.start(int(std::max<qint64>(0, delay - sinceRows.elapsed())));
}

int SearchResultsForm::AnswerDelay() const
{
    return fileRows < immediateFileRows ? 0 : fileRows / 1000;
}

void SearchResultsForm::AddWaitingAnswers()
{
    answerTimer.stop();
    if (waitingAnswers.isEmpty())
        return;
    const QList<ItemPtr> answers = std::move(waitingAnswers);
    waitingAnswers.clear();
    waitingFiles = 0;
    QTreeWidget* tree = ui->searchResultsTreeWidget;
    // One repaint for all the answers, not one per row.
    const bool updates = tree->updatesEnabled();
    tree->setUpdatesEnabled(false);
    FilterParser filter;
    filter.Parse(ui->filterEdit->text());
    showsAll = ui->filterEdit->text().simplified().isEmpty();
    QTreeWidgetItem* userRow = nullptr;
    for (ItemPtr answer : answers)
        AddAnswerRows(answer, filter, userRow);
    tree->setUpdatesEnabled(updates);
    sinceRows.start();
    AfterAnswers(userRow);
}

void SearchResultsForm::AddAnswerRows(ItemPtr answer, const FilterParser& filter,
                                      QTreeWidgetItem*& userRow)
{
    AnswerRows rows(WidgetItem(), answer);
    bool anyShown = false;
    for (ItemPtr result : answer.GetItems(searchResult))
    {
        QTreeWidgetItem* fileRow = AddFileRow(result, rows, filter);
        if (!flat)
            anyShown =
                ArrivalFilter(fileRow->parent(), *rows.lastFolder, result, filter) || anyShown;
    }
    // Only the new rows are tested: every earlier row was filtered with the present text
    // already, and a folder only gains files, so a shown folder or user row stays shown. A
    // peer's long run of small answers then costs each row once.
    if (rows.userRow)
        userRow = rows.userRow;
    if (rows.userRow && anyShown && rows.userRow->isHidden())
        rows.userRow->setHidden(false);
    else if (rows.userRow && !anyShown && rows.newUser)
        rows.userRow->setHidden(true);
}

void SearchResultsForm::AfterAnswers(QTreeWidgetItem* lastUserRow)
{
    QTreeWidget* tree = ui->searchResultsTreeWidget;
    ItemPtr widget = WidgetItem();
    ItemPtr wish = widget[WindowTypes::wishListItem];
    if (!wish.IsNull() && !widget.IsConnected(resultsWidgetAlerted))
    {
        bool visible = lastUserRow && !lastUserRow->isHidden();
        for (int index = 0; index < tree->topLevelItemCount() && !visible; ++index)
            visible = !tree->topLevelItem(index)->isHidden();
        if (visible)
        {
            if (eventToolBar)
                eventToolBar->AddEvent(wish.AsString(), ":/icons/wishlist_icon", this, QString(),
                                       "wishlist", false);
            widget.Connect(d.GetType(resultsWidgetAlerted)->GetGlobalNullItem());
        }
    }
    if (delayedInvoker)
        delayedInvoker->Invoke(this, "1Sort()", 1000);
}

QTreeWidgetItem* SearchResultsForm::AddSearchResult(ItemPtr result)
{
    FilterParser filter;
    filter.Parse(ui->filterEdit->text());
    AnswerRows rows(WidgetItem(), result[PeerTypes::searchResults]);
    AddFileRow(result, rows, filter);
    return flat ? nullptr : rows.userRow;
}

QTreeWidgetItem* SearchResultsForm::AddFileRow(ItemPtr result, AnswerRows& rows,
                                               const FilterParser& filter)
{
    ++fileRows;
    if (flat)
        return AddFlatResult(result, rows, filter);
    if (!rows.userRow)
        FindUserRow(rows);

    // Found through the store's keyed lookup, which walks the smaller side: a user row may
    // hold thousands of folders.
    ItemPtr folder = result->HasItem(rows.folderType);
    auto known = rows.folders.find(folder.Get());
    if (known == rows.folders.end())
    {
        ItemPtr node = d.GetItem(rows.userNode, folder, folderNode);
        auto* folderRow = ViewAddress::Find<QTreeWidgetItem>(node);
        if (!folderRow)
        {
            folderRow = new SearchResultListItem;
            const QString text = ReversePathname(folder.AsString());
            folderRow->setText(3, text);
            folderFiles[folderRow].text = text;
            rows.userRow->addChild(folderRow);
            node = NewNode(folderNode, folderRow);
            node.Connect(rows.userNode);
            node.Connect(folder);
        }
        // A row collapsed by hand opens again when a result arrives under it.
        if (rows.expandFolders)
            folderRow->setExpanded(true);
        known = rows.folders.insert(folder.Get(), {node, folderRow, &folderFiles[folderRow]});
    }

    auto* fileRow = new SearchResultListItem;
    SetFileColumns(fileRow, result, rows);
    known->row->addChild(fileRow);
    known->files->files.push_back({fileRow, fileRow->text(4), false});
    rows.lastFolder = known->files;
    ItemPtr node = rows.resultNodeType->NewItem(Value(fileRow));
    node.Connect(result);
    node.Connect(known->node);
    return fileRow;
}

void SearchResultsForm::FindUserRow(AnswerRows& rows)
{
    ItemPtr user = rows.answer[ServerTypes::user];
    ItemPtr node = user.IsNull() ? ItemPtr() : d.GetItem(rows.widget, user, userNode);
    rows.userRow = ViewAddress::Find<QTreeWidgetItem>(node);
    if (!rows.userRow)
    {
        rows.newUser = true;
        // Rows are filled before they join the tree, so that each column set is not a change
        // the view must hear of.
        rows.userRow = new SearchResultListItem;
        rows.userRow->setText(0, user.AsString());
        rows.userRow->setText(1, FreeText(rows.answer));
        rows.userRow->setTextAlignment(1, Qt::AlignHCenter);
        rows.userRow->setText(2, SpeedText(rows.answer[searchResultsUserSpeed].AsInt64()));
        ui->searchResultsTreeWidget->addTopLevelItem(rows.userRow);
        node = NewNode(userNode, rows.userRow);
        node.Connect(rows.widget);
        node.Connect(user);
    }
    rows.userNode = node;
    if (rows.expandUsers)
        rows.userRow->setExpanded(true);
}

QTreeWidgetItem* SearchResultsForm::AddFlatResult(ItemPtr result, AnswerRows& rows,
                                                  const FilterParser& filter)
{
    auto* row = new SearchResultListItem;
    row->setText(0, rows.answer[ServerTypes::user].AsString());
    row->setText(1, FreeText(rows.answer));
    row->setText(2, SpeedText(rows.answer[searchResultsUserSpeed].AsInt64()));
    row->setText(3, ReversePathname(result->HasItem(rows.folderType).AsString()));
    SetFileColumns(row, result, rows);
    ui->searchResultsTreeWidget->addTopLevelItem(row);
    ItemPtr(rows.resultNodeType->NewItem(Value(row))).Connect(result);
    if (filter.IsMatching(FlatText(result), nullptr, result) != 0)
        row->setHidden(true);
    return row;
}

void SearchResultsForm::SetFileColumns(QTreeWidgetItem* row, ItemPtr result, const AnswerRows& rows)
{
    // Spares the view asking a file row for children each time it lays out the tree.
    row->setFlags(row->flags() | Qt::ItemNeverHasChildren);
    row->setText(4, result->HasItem(rows.nameType).AsString());
    // A peer's negative size means nothing: it shows, and sorts, as 0.
    const long long size = std::max(0LL, result->HasItem(rows.sizeType).AsInt64());
    row->setText(5, size == 0 ? QString("0") : CommafyNumber(size));
    row->setText(6, AttributesText(result));
    row->setData(0, SearchResultListItem::sizeRole, size);
    row->setData(0, SearchResultListItem::bitrateRole, result->HasItem(rows.bitrateType).AsInt());
}

QString SearchResultsForm::FreeText(ItemPtr answer)
{
    if (answer[searchResultsUserAvailable].AsString() == "yes")
        return "Y";
    const QString queue = answer[searchResultsUploadsInQueue].AsString();
    // A negative queue would sort above every honest one.
    return queue.toLongLong() < 0 ? QString("0") : queue;
}

bool SearchResultsForm::ArrivalFilter(QTreeWidgetItem* folderRow, FolderFiles& files,
                                      ItemPtr result, const FilterParser& filter)
{
    FileText& file = files.files.back();
    const bool match = showsAll || filter.IsMatching(files.text + file.name, nullptr, result) == 0;
    if (!match)
    {
        file.row->setHidden(true);
        file.hidden = true;
    }
    files.shown += match ? 1 : 0;
    bool hidden = files.shown == 0 || files.shown < filter.MinFilesInFolder();
    // A folder the whole-tree filter hid left its earlier file rows as they were: set them now.
    if (!hidden && files.stale)
    {
        files.stale = false;
        QTreeWidget* tree = ui->searchResultsTreeWidget;
        const QModelIndex folderIndex = IndexOf(folderRow);
        files.shown = 0;
        for (int r = 0; r < int(files.files.size()); ++r)
        {
            FileText& earlier = files.files[r];
            const bool shows =
                &earlier == &file ||
                filter.IsMatching(files.text + earlier.name, nullptr, ResultOf(earlier.row)) == 0;
            if (earlier.hidden == shows)
                tree->setRowHidden(r, folderIndex, !shows);
            earlier.hidden = !shows;
            files.shown += shows ? 1 : 0;
        }
        hidden = files.shown < filter.MinFilesInFolder();
    }
    if (folderRow->isHidden() != hidden)
        folderRow->setHidden(hidden);
    return !hidden;
}

QTreeWidgetItem* SearchResultsForm::GetNodeUserNode(QTreeWidgetItem* row)
{
    while (row && row->parent())
        row = row->parent();
    return row;
}

bool SearchResultsForm::CompareSearchResults(ItemPtr a, ItemPtr b)
{
    const QString folderA = a[searchResultFileFolder].AsString();
    const QString folderB = b[searchResultFileFolder].AsString();
    if (folderA != folderB)
        return folderA < folderB;
    return a[searchResultFileName].AsString() < b[searchResultFileName].AsString();
}

void SearchResultsForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (eventToolBar)
        eventToolBar->RemoveEvents(this);
}

void SearchResultsForm::OnContextMenuRequested(QPoint i_point)
{
    QTreeWidgetItem* row = ui->searchResultsTreeWidget->itemAt(i_point);
    if (!row)
        return;
    QMenu menu;
    SearchResultMenuOptions results(&menu, row, nullptr);
    const QString user = results.User().isEmpty() ? GetNodeUserNode(row)->text(0) : results.User();
    UserMenuOptions options(&menu, user);
    menu.exec(ui->searchResultsTreeWidget->viewport()->mapToGlobal(i_point));
}

void SearchResultsForm::OnFilterTextChanged(QString i_text)
{
    ItemPtr wish = WidgetItem()[WindowTypes::wishListItem];
    if (!wish.IsNull())
        wish.Connect(d.GetType(wishListItemFilterText)->NewItem(Value(i_text)));
    FilterParser filter;
    filter.Parse(i_text);
    FilterTree(filter);
    const bool saved =
        !ItemPtr(d.GetType(savedFilter)->HasItem(Value(i_text.simplified().toLower()))).IsNull();
    ui->saveFilterButton->setText(saved ? tr("Remove Filter") : tr("Save Filter"));
    ui->defaultFilterBox->setChecked(!i_text.isEmpty() &&
                                     i_text == Settings::GetText(defaultSearchFilter));
}

void SearchResultsForm::FilterTree(const FilterParser& filter)
{
    QTreeWidget* tree = ui->searchResultsTreeWidget;
    const QAbstractItemModel* model = tree->model();
    const bool updates = tree->updatesEnabled();
    tree->setUpdatesEnabled(false);
    // Rows are hidden through the view by row number under a parent index found once, which
    // spares the view finding each row's place again.
    for (int u = 0; u < tree->topLevelItemCount(); ++u)
    {
        QTreeWidgetItem* top = tree->topLevelItem(u);
        bool hidden = false;
        if (flat)
        {
            ItemPtr result = ResultOf(top);
            hidden = filter.IsMatching(FlatText(result), nullptr, result) != 0;
        }
        else
        {
            const QModelIndex userIndex = model->index(u, 0);
            bool anyFolder = false;
            for (int f = 0; f < top->childCount(); ++f)
                anyFolder =
                    FilterFolder(top->child(f), model->index(f, 0, userIndex), filter) || anyFolder;
            hidden = !anyFolder;
        }
        tree->setRowHidden(u, QModelIndex(), hidden);
    }
    tree->setUpdatesEnabled(updates);
}

bool SearchResultsForm::FilterFolder(QTreeWidgetItem* folderRow, const QModelIndex& folderIndex,
                                     const FilterParser& filter)
{
    QTreeWidget* tree = ui->searchResultsTreeWidget;
    FolderFiles& files = folderFiles[folderRow];
    FilterParser remainder;
    std::vector<bool> matches;
    int shown = 0;
    bool hidden = true;
    if (filter.IsMatching(files.text, &remainder, ItemPtr()) != 2)
    {
        matches.reserve(files.files.size());
        for (const FileText& file : files.files)
        {
            const ItemPtr item = remainder.HasAttributes() ? ResultOf(file.row) : ItemPtr();
            matches.push_back(remainder.IsMatching(file.name, nullptr, item) == 0);
            shown += matches.back() ? 1 : 0;
        }
        hidden = shown == 0 || shown < remainder.MinFilesInFolder();
    }
    tree->setRowHidden(folderIndex.row(), folderIndex.parent(), hidden);
    files.shown = shown;
    // The file rows of a hidden folder cannot be seen: they are set when the folder shows.
    files.stale = hidden;
    if (hidden)
        return false;
    // Only rows whose state changes are told to the view.
    for (int r = 0; r < int(matches.size()); ++r)
    {
        FileText& file = files.files[r];
        if (file.hidden == matches[r])
            tree->setRowHidden(r, folderIndex, !matches[r]);
        file.hidden = !matches[r];
    }
    return true;
}

void SearchResultsForm::OnFilterHelpClicked()
{
    FilterHelpDialog::Open(this);
}

void SearchResultsForm::OnClearFilterClicked()
{
    ui->filterEdit->clear();
}

void SearchResultsForm::OnSavedFiltersBoxIndexChanged(int i_index)
{
    if (i_index <= 0)
        return;
    ui->filterEdit->setText(ui->savedFiltersBox->itemText(i_index));
    ui->savedFiltersBox->setCurrentIndex(0);
}

void SearchResultsForm::OnSaveFilterClicked()
{
    const QString filter = ui->filterEdit->text().simplified().toLower();
    ItemPtr saved(d.GetType(savedFilter)->HasItem(Value(filter)));
    if (!saved.IsNull())
        saved.Remove();
    else if (!filter.isEmpty())
        d.GetType(savedFilter)->NewItem(Value(filter));
}

void SearchResultsForm::OnDefaultFilterBoxToggled(bool i_checked)
{
    const QString filter = ui->filterEdit->text();
    if (i_checked && filter.isEmpty())
        ui->defaultFilterBox->setChecked(false);
    else if (i_checked)
        Settings::Set(defaultSearchFilter, Value(filter));
    else
        Settings::Clear(defaultSearchFilter);
}

void SearchResultsForm::OnSavedFilterAdded(ItemPtr filter)
{
    ui->savedFiltersBox->addItem(filter.AsString());
    OnFilterTextChanged(ui->filterEdit->text());
}

void SearchResultsForm::OnSavedFilterRemoved(ItemPtr filter)
{
    const int index =
        ui->savedFiltersBox->findText(filter.AsString(), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index > 0)
        ui->savedFiltersBox->removeItem(index);
    OnFilterTextChanged(ui->filterEdit->text());
}
