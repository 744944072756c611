#pragma once

#include <QDialog>

class Ui_FilterHelpDialog;

// Explains the language of the result filter boxes. One is shared by every view that offers
// filter help; it deletes itself when closed.
class FilterHelpDialog : public QDialog
{
    Q_OBJECT

public:
    explicit FilterHelpDialog(QWidget* parent = nullptr);
    ~FilterHelpDialog() override;

    // Shows the shared dialog, making it with the given parent when none is open.
    static FilterHelpDialog* Open(QWidget* parent);

private:
    Ui_FilterHelpDialog* ui;
};

// The one open dialog, or null.
extern FilterHelpDialog* filterHelpDialog;
