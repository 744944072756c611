#pragma once

#include <QColor>
#include <QDialog>

class QLineEdit;
class Ui_ColorSelectionDialog;

// Lets the user choose the client's colours: six of the application palette and eight of chat
// lines and transfer rows. Each row shows its colour in a swatch; nothing is stored or applied
// until "Save Colors", so closing the window drops every change. Frees itself when it closes.
class ColorSelectionDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ColorSelectionDialog(QWidget* parent = nullptr);
    ~ColorSelectionDialog() override;

public slots:
    void OnChangeWindowBackground();
    void OnChangeWindowText();
    void OnChangeInputBackground();
    void OnChangeInputText();
    void OnChangeButtonBackground();
    void OnChangeButtonText();
    void OnSaveColors();
    void OnResetToDefaults();
    void OnChangeTransferComplete();
    void OnChangeTransferQueued();
    void OnChangeTransferInProgress();
    void OnChangeTransferFailed();
    void OnChangeTransferOther();
    void OnChangeChatUsername();
    void OnChangeChatTimestamp();
    void OnChangeChatStatus();

private:
    // The swatch of a colour setting's row.
    QLineEdit* Swatch(const QString& key) const;
    void ChangeColour(QLineEdit* swatch);

    Ui_ColorSelectionDialog* ui = nullptr;
};
