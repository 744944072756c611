#include "SearchViews.h"

#include <QLayout>

#include "SearchForm.h"
#include "ShareDialogs.h"
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
} // namespace

void Install()
{
    ViewHooks::createSearchPage = &CreateSearchPage;
    ViewHooks::initSearch = &InitSearch;
    ShareDialogs::Install();
}
} // namespace SearchViews
