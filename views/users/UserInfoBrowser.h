#pragma once

#include <QImage>
#include <QTextBrowser>

// Shows a peer's own description. The description may carry markup, so nothing it names is
// ever fetched: only the picture put into the document beforehand shows, and links go nowhere.
class UserInfoBrowser : public QTextBrowser
{
    Q_OBJECT

public:
    explicit UserInfoBrowser(QWidget* parent = nullptr);

    // The one image the page may show, under the name the page's markup gives it.
    void SetPicture(const QString& name, const QImage& image);
    QImage Picture() const { return picture; }

    QVariant loadResource(int type, const QUrl& name) override;

private:
    QString pictureName;
    QImage picture;
};
