#include "TransfersViews.h"

#include <QLayout>

#include "TransfersForm.h"
#include "ViewHooks.h"

namespace TransfersViews {
namespace {
void CreateTransfersPage(QWidget* transfersTab)
{
    transfersTab->layout()->addWidget(new TransfersForm(transfersTab));
}

void InitTransfers()
{
    if (transfersForm)
        transfersForm->Init();
}

void RecolorTransfers()
{
    if (transfersForm)
        transfersForm->RecolorEntries();
}

void FinishTransferRemovals()
{
    if (transfersForm)
        transfersForm->FinishRemovals();
}
} // namespace

void Install()
{
    ViewHooks::createTransfersPage = &CreateTransfersPage;
    ViewHooks::initTransfers = &InitTransfers;
    ViewHooks::recolorTransfers = &RecolorTransfers;
    ViewHooks::finishTransferRemovals = &FinishTransferRemovals;
}
} // namespace TransfersViews
