#include "AdminMessageDialog.h"

#include <QDateTime>
#include <QTextDocument>

#include "ui_AdminMessageDialog.h"

namespace {
// A document that loads nothing a message names: no local file, resource or data URL.
class InertTextDocument : public QTextDocument
{
public:
    using QTextDocument::QTextDocument;

protected:
    QVariant loadResource(int, const QUrl&) override { return QVariant(); }
};
} // namespace

AdminMessageDialog::AdminMessageDialog(QString i_message, QWidget* parent)
    : QDialog(parent), ui(new Ui::AdminMessageDialog)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    ui->textEdit->setDocument(new InertTextDocument(ui->textEdit));
    // Read-only text follows no link; only selecting is allowed.
    ui->textEdit->setTextInteractionFlags(Qt::TextSelectableByMouse);
    if (Qt::mightBeRichText(i_message))
        ui->textEdit->setHtml(i_message);
    else
        ui->textEdit->setPlainText(i_message);
    ui->timeEdit->setText(QDateTime::currentDateTime().toString("MMM d h:mm:ss ap"));
}

AdminMessageDialog::~AdminMessageDialog() = default;
