#include "SearchViews.h"

#include <QLayout>

#include "SearchForm.h"
#include "ShareDialogs.h"
#include "SharesForm.h"
#include "ViewHooks.h"

namespace SearchViews {
namespace {
void CreateSearchPage(QWidget* searchTab)
{
    searchTab->layout()->addWidget(new SearchForm(searchTab));
}

void InitSearch()
{
    if (searchForm)
        searchForm->Init();
}

void CreateBrowsePage(QWidget* browseTab)
{
    browseTab->layout()->addWidget(new SharesForm(browseTab));
}

void InitBrowse()
{
    if (sharesForm)
        sharesForm->Init();
}

void BrowseUser(const QString& user)
{
    if (sharesForm)
        sharesForm->OpenShareBrowse(user);
}

void UploadToUser(const QString& user)
{
    if (sharesForm)
        sharesForm->OpenUploadBrowse(user);
}
} // namespace

void Install()
{
    ViewHooks::createSearchPage = &CreateSearchPage;
    ViewHooks::initSearch = &InitSearch;
    ShareDialogs::Install();
    ViewHooks::createBrowsePage = &CreateBrowsePage;
    ViewHooks::initBrowse = &InitBrowse;
    ViewHooks::browseUser = &BrowseUser;
    ViewHooks::uploadToUser = &UploadToUser;
}
} // namespace SearchViews
