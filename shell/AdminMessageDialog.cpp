#include "AdminMessageDialog.h"

#include <QDateTime>
#include <QTextDocument>

#include "ui_AdminMessageDialog.h"

namespace {
// Room for a line edit's frame and margins around its text.
const int textPadding = 16;

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
    const QString time = QDateTime::currentDateTime().toString("MMM d h:mm:ss ap");
    ui->timeEdit->setText(time);
    // The form's width suits small fonts; a larger one must not clip the time.
    const int needed = ui->timeEdit->fontMetrics().horizontalAdvance(time) + textPadding;
    ui->timeEdit->setMaximumWidth(qMax(ui->timeEdit->maximumWidth(), needed));
    ui->timeEdit->setMinimumWidth(needed);
}

AdminMessageDialog::~AdminMessageDialog() = default;
