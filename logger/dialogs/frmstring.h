#pragma once
// frmString: the reusable two-field input dialog (a phone number and its
// description, for instance). One program-wide instance, hidden by its buttons
// and never destroyed, so its members keep their values until the next call.

#include <QDialog>
#include <QString>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace quillet {

class frmString : public QDialog
{
    Q_OBJECT
public:
    static const QString OkResult;     // "使用者按下確定鍵"
    static const QString CancelResult; // "使用者按下取消鍵"

    // The program-wide instance, created on first use.
    static frmString &Instance();

    explicit frmString(QWidget *parent = nullptr);

    // Shows the dialog modally with the given caption, prompts and default
    // texts; returns KeyInResult trimmed. KeyInString1 and KeyInString2 hold
    // the texts as typed after OK, and are empty after Cancel.
    QString KeyInString(const QString &Title, const QString &Prompt1, const QString &DefaultString1,
                        const QString &Prompt2, const QString &DefaultString2);

    QString KeyInResult;
    QString KeyInString1;
    QString KeyInString2;

    QGroupBox *Frame1 = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *txtID = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *txtDsc = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdCancel = nullptr;

    // Escape and the window's close button end the dialog as Cancel does: an
    // empty result would otherwise pass for OK and take texts nobody confirmed.
    void reject() override;

private:
    void okClicked();
};

} // namespace quillet
