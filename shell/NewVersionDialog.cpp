#include "NewVersionDialog.h"

#include <QDesktopServices>
#include <QTextDocument>
#include <QUrl>

#include "ui_NewVersionDialog.h"

#include "Settings.h"
#include "ShellGlobals.h"

namespace {
const char* const skipVersion = "skip_version";
} // namespace

NewVersionDialog::NewVersionDialog(qint64 version, const QString& downloadLink,
                                   const QStringList& description, QWidget* parent)
    : QDialog(parent), ui(new Ui::NewVersionDialog), version(version), downloadLink(downloadLink)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle("VandrellQt Update");
    ui->currentVersionEdit->setText(BuildText(g_currentVersion));
    ui->newVersionEdit->setText(BuildText(version));
    // The version file comes over plain HTTP: none of its text may be taken as markup, and only
    // a web link is handed to the desktop.
    ui->downloadButton->setToolTip(Qt::convertFromPlainText(downloadLink));
    ui->downloadButton->setEnabled(HasWebLink());
    ui->descriptionEdit->setUpdatesEnabled(false);
    // Plain text, one paragraph per line, with the cursor at the start.
    ui->descriptionEdit->setPlainText(description.join('\n'));
    ui->descriptionEdit->ensureCursorVisible();
    ui->descriptionEdit->setUpdatesEnabled(true);
}

NewVersionDialog::~NewVersionDialog() = default;

QString NewVersionDialog::BuildText(qint64 build)
{
    return QString("Build %1/%2/%3").arg((build % 10000) / 100).arg(build % 100).arg(build / 10000);
}

void NewVersionDialog::OnDownloadButtonClicked()
{
    if (HasWebLink())
        QDesktopServices::openUrl(QUrl(downloadLink));
}

void NewVersionDialog::OnSkipButtonClicked()
{
    Settings::Set(skipVersion, QString::number(version));
    close();
}

bool NewVersionDialog::HasWebLink() const
{
    const QUrl url(downloadLink);
    const QString scheme = url.scheme();
    return url.isValid() && !url.host().isEmpty() && (scheme == "http" || scheme == "https");
}
