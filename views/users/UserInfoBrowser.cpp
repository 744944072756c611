#include "UserInfoBrowser.h"

UserInfoBrowser::UserInfoBrowser(QWidget* parent) : QTextBrowser(parent)
{
    setOpenLinks(false);
    setOpenExternalLinks(false);
}

void UserInfoBrowser::SetPicture(const QString& name, const QImage& image)
{
    pictureName = name;
    picture = image;
}

QVariant UserInfoBrowser::loadResource(int type, const QUrl& name)
{
    if (type == QTextDocument::ImageResource && !picture.isNull() && name.toString() == pictureName)
        return picture;
    return QVariant();
}
