#pragma once

#include <memory>

#include <QDialog>
#include <QString>
#include <QStringList>

namespace Ui {
class NewVersionDialog;
}

// Offers a newer build: shows both builds and the description, opens the download link in the
// desktop's browser or remembers the build as skipped. Deletes itself when closed.
class NewVersionDialog : public QDialog
{
    Q_OBJECT

public:
    NewVersionDialog(qint64 version, const QString& downloadLink, const QStringList& description,
                     QWidget* parent = nullptr);
    ~NewVersionDialog() override;

    // "Build M/D/YYYY", without leading zeros.
    static QString BuildText(qint64 build);

public slots:
    void OnDownloadButtonClicked();
    void OnSkipButtonClicked();

private:
    bool HasWebLink() const;

    std::unique_ptr<Ui::NewVersionDialog> ui;
    qint64 version;
    QString downloadLink;
};
