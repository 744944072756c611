#include "UserInfoForm.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>

#include "EventToolBar.h"
#include "PeerMessenger.h"
#include "UserInfoBrowser.h"
#include "ViewAddress.h"
#include "ui_UserInfoForm.h"

namespace {
const char* const imageName = "UserImage";

// The picture, scaled to fit the page; null when it does not decode or is too big to decode.
QImage DecodePicture(const char* bytes, int length)
{
    QByteArray data = QByteArray::fromRawData(bytes, length);
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() > UserInfoForm::maxPixels)
        return QImage();
    QImage image = reader.read();
    if (image.isNull())
        return image;
    if (image.width() > UserInfoForm::maxWidth || image.height() > UserInfoForm::maxHeight)
        image = image.scaled(UserInfoForm::maxWidth, UserInfoForm::maxHeight, Qt::KeepAspectRatio,
                             Qt::SmoothTransformation);
    return image;
}
} // namespace

UserInfoForm::UserInfoForm(QWidget* parent) : QWidget(parent), ui(new Ui_UserInfoForm)
{
    ViewAddress::Enter(this);
    ui->setupUi(this);
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::UserInfoReceived, this,
                &UserInfoForm::OnUserInfoReceived);
}

UserInfoForm::~UserInfoForm()
{
    ViewAddress::Leave(this);
    delete ui;
}

void UserInfoForm::Init(QString i_user)
{
    user = i_user;
    if (peerMessenger)
        peerMessenger->GetUserInfo(user);
    requestPending = true;
    ui->userInfoText->setHtml(tr("Requesting..."));
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::ConnectionToUserFailed, this,
                &UserInfoForm::OnConnectionToUserFailed);
}

void UserInfoForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (eventToolBar)
        eventToolBar->RemoveEvents(this);
}

void UserInfoForm::OnConnectionToUserFailed(QString i_user, QString i_connectionType)
{
    if (!requestPending || i_user != user || i_connectionType != "P")
        return;
    requestPending = false;
    ui->userInfoText->setPlainText(
        tr("A connection could not be successfully formed to the user."));
    if (eventToolBar)
        eventToolBar->AddEvent(user, ":/icons/info_icon", this, QString(), QString(), false);
}

void UserInfoForm::OnUserInfoReceived(QString i_user, QString i_description, bool i_hasPicture,
                                      char* ip_pictureBuffer, int i_pictureBufferLength,
                                      int i_uploadSlots, int i_queuedUPloads,
                                      bool i_freeUploadSlots)
{
    if (i_user != user)
        return;
    requestPending = false;
    ui->uploadSlotsEdit->setText(QString::number(i_uploadSlots));
    ui->queuedUploadsEdit->setText(QString::number(i_queuedUPloads));
    ui->freeToUploadEdit->setText(i_freeUploadSlots ? tr("Yes") : tr("No"));

    QString html;
    bool showsPicture = false;
    ui->userInfoText->SetPicture(QString(), QImage());
    // A picture that does not decode is left out; the description still shows.
    if (i_hasPicture && ip_pictureBuffer && i_pictureBufferLength > 0)
    {
        const QImage picture = DecodePicture(ip_pictureBuffer, i_pictureBufferLength);
        if (!picture.isNull())
        {
            ui->userInfoText->SetPicture(imageName, picture);
            html += QString("<img src=\"%1\" /><p>").arg(imageName);
            showsPicture = true;
        }
    }
    if (!i_description.isEmpty())
        html += QString(i_description).replace("\n", "<br>");
    else if (!showsPicture)
        html += tr("No user info.");
    ui->userInfoText->setHtml(html);
    QTextCursor cursor = ui->userInfoText->textCursor();
    cursor.setPosition(0);
    ui->userInfoText->setTextCursor(cursor);
    if (eventToolBar)
        eventToolBar->AddEvent(user, ":/icons/info_icon", this, QString(), "user_info", false);
}
