#pragma once

#include <string>

#include "ShareTreeForm.h"

class QShowEvent;
class Ui_ShareForm;

// One browse tab: another user's shared files, asked for when the tab opens. It shows the
// folders and the chosen folder's files once the list arrives, and queues downloads of files and
// whole folders.
class ShareForm : public ShareTreeForm
{
    Q_OBJECT

public:
    ShareForm(const QString& user, QWidget* parent);
    ~ShareForm() override;

    Ui_ShareForm* Form() const { return ui; }
    void SetShare(ItemPtr userShare);
    // Makes the folder of that path, bytes as received, current; once the folder rows are made
    // if they are still to come.
    void BrowseToFolder(const std::string& folder);
    void DownloadFolder(ItemPtr folder, bool subfolder);
    void OnUserShareItemRemoved(ItemPtr removed);

public slots:
    void OnConnectionToUserFailed(QString i_user, QString i_connectionType);
    void OnDownloadFolder();
    void OnDownloadFile();

protected:
    void showEvent(QShowEvent* event) override;
    void HandFolder(ItemPtr folder) override;
    void HandFile(ItemPtr file) override;
    const char* HandedIcon() const override;
    QString FolderActionText() const override;
    QString FileActionText() const override;
    ItemPtr Delete() override;
    void FolderTreeFilled() override;

private:
    void MakeCurrent(ItemPtr folder);

    void QueueFile(ItemPtr file, bool single, int level);
    void AnnounceShare(QWidget* widget);

    Ui_ShareForm* ui;
    bool answered = false;
    // A folder asked for before the list came, by its bytes.
    std::string pendingPath;
};
