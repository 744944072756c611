#pragma once

#include <QWidget>

#include "AttributeTranslationTable.h"
#include "ClosedTabRemoval.h"
#include "DataHandler.h"
#include "FileInfoMap.h"
#include "ItemPtr.h"

class ShareForm;
class Ui_SharesForm;
class UploadForm;

// The Browse page: one tab per user whose share is browsed and one per user whom own files are
// offered to. It turns received share lists into store items and hands them to their tab.
class SharesForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    explicit SharesForm(QWidget* parent = nullptr);
    ~SharesForm() override;

    static void DeclareTypes();
    void Init();
    Ui_SharesForm* Form() const { return ui; }
    ShareForm* OpenShareBrowse(const QString& user);
    UploadForm* OpenUploadBrowse(const QString& user);
    static ItemPtr CreateUserShareData(FileInfoMap& share, AttributeTranslationTable& table);
    ClosedTabRemoval& ClosedTabs() { return removal; }

public slots:
    void OnTabCloseRequested(int i_tabIndex);
    void OnToolBarActionTriggered(QWidget* ip_widget, QString i_action);
    void OnUserShare(QString i_user, FileInfoMap& i_share, AttributeTranslationTable& i_table);

private:
    ShareForm* ShareFormOf(ItemPtr user) const;
    UploadForm* UploadFormOf(ItemPtr user) const;

    Ui_SharesForm* ui;
    // Closed tabs' shares and rows, taken apart a slice at a time.
    ClosedTabRemoval removal;
};

extern SharesForm* sharesForm;
