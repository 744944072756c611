#pragma once

#include <QWidget>

class Ui_UserInfoForm;

// Another user's information: his upload state, picture and description, as his client sent
// them, on a tab of the Users page.
class UserInfoForm : public QWidget
{
    Q_OBJECT

public:
    // Bigger pictures are scaled to fit; pictures of more pixels than the cap are not decoded.
    static constexpr int maxWidth = 800;
    static constexpr int maxHeight = 400;
    static constexpr qint64 maxPixels = 100000000;

    explicit UserInfoForm(QWidget* parent = nullptr);
    ~UserInfoForm() override;

    void Init(QString i_user);
    Ui_UserInfoForm* Form() const { return ui; }
    QString User() const { return user; }

public slots:
    void OnUserInfoReceived(QString i_user, QString i_description, bool i_hasPicture,
                            char* ip_pictureBuffer, int i_pictureBufferLength, int i_uploadSlots,
                            int i_queuedUPloads, bool i_freeUploadSlots);
    void OnConnectionToUserFailed(QString i_user, QString i_connectionType);

protected:
    void showEvent(QShowEvent* event) override;

private:
    Ui_UserInfoForm* ui;
    QString user;
    bool requestPending = false;
};
