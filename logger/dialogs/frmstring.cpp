#include "frmstring.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillet {

const QString frmString::OkResult = QStringLiteral("使用者按下確定鍵");
const QString frmString::CancelResult = QStringLiteral("使用者按下取消鍵");

frmString &frmString::Instance()
{
    // Kept for the whole process, as the callers read its members after it
    // has been hidden.
    static frmString *form = new frmString;
    return *form;
}

frmString::frmString(QWidget *parent) : QDialog(parent)
{
    setModal(true);
    Frame1 = new QGroupBox(this);
    Label1 = new QLabel(QStringLiteral("Phone Number :"), Frame1);
    txtID = new QLineEdit(Frame1);
    Label2 = new QLabel(QStringLiteral("Description :"), Frame1);
    txtDsc = new QLineEdit(Frame1);
    Label1->setBuddy(txtID);
    Label2->setBuddy(txtDsc);
    txtID->setMinimumWidth(240);

    auto *grid = new QGridLayout(Frame1);
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(txtID, 0, 1);
    grid->addWidget(Label2, 1, 0);
    grid->addWidget(txtDsc, 1, 1);
    grid->setColumnStretch(1, 1);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdOK->setDefault(true);
    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(cmdOK, QDialogButtonBox::AcceptRole);
    buttons->addButton(cmdCancel, QDialogButtonBox::RejectRole);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Frame1);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(cmdOK, &QPushButton::clicked, this, &frmString::okClicked);
    connect(cmdCancel, &QPushButton::clicked, this, &frmString::reject);
}

QString frmString::KeyInString(const QString &Title, const QString &Prompt1,
                               const QString &DefaultString1, const QString &Prompt2,
                               const QString &DefaultString2)
{
    setWindowTitle(Title);
    Label1->setText(Prompt1);
    txtID->setText(DefaultString1);
    Label2->setText(Prompt2);
    txtDsc->setText(DefaultString2);
    KeyInResult.clear();
    txtID->setFocus();
    txtID->selectAll();
    exec();
    return KeyInResult.trimmed();
}

void frmString::okClicked()
{
    KeyInResult = OkResult;
    KeyInString1 = txtID->text();
    KeyInString2 = txtDsc->text();
    accept();
}

void frmString::reject()
{
    KeyInResult = CancelResult;
    KeyInString1.clear();
    KeyInString2.clear();
    QDialog::reject();
}

} // namespace quillet
