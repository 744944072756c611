#pragma once

#include "FileInfoMap.h"
#include "ShareTreeForm.h"

class Ui_UploadForm;

// One upload tab: the user's own shared files as the chosen user may see them, from which files
// and whole folders are pushed to that user. The share is a snapshot made when the tab opens.
class UploadForm : public ShareTreeForm
{
    Q_OBJECT

public:
    UploadForm(const QString& user, QWidget* parent);
    ~UploadForm() override;

    Ui_UploadForm* Form() const { return ui; }
    void SetShare(ItemPtr userShare);
    // Leaves out the files that could not be pushed: a name holding a backslash reads, once
    // joined to its folder, as a path to another file.
    static void DropUnreachableFiles(FileInfoMap& share);

public slots:
    void OnActionBarTriggered(QWidget* ip_widget, QString i_action);
    void OnUploadFolder();
    void OnUploadFile();

protected:
    void HandFolder(ItemPtr folder) override;
    void HandFile(ItemPtr file) override;
    const char* HandedIcon() const override;
    QString FolderActionText() const override;
    QString FileActionText() const override;
    ItemPtr Delete() override;

private:
    void UploadFolder(ItemPtr folder);
    void UploadFile(ItemPtr file);

    Ui_UploadForm* ui;
};
