#include "tasks/ui/account_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace pellix {

TAccountDialog::TAccountDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle("Account/Password");
    auto* form = new QFormLayout;
    m_edUserName = new QLineEdit(this);
    m_edUserName->setObjectName("edUserName");
    m_edUserName->setAccessibleName("Account:");
    m_edPassword = new QLineEdit(this);
    m_edPassword->setObjectName("edPassword");
    m_edPassword->setAccessibleName("Password:");
    m_edPassword->setEchoMode(QLineEdit::Password);
    form->addRow("Account:", m_edUserName);
    form->addRow("Password:", m_edPassword);

    auto* buttons = new QDialogButtonBox(this);
    m_btnOK = buttons->addButton("&OK", QDialogButtonBox::AcceptRole);
    m_btnOK->setObjectName("btnOK");
    m_btnOK->setAccessibleName("OK");
    m_btnOK->setDefault(true);
    QPushButton* cancel = buttons->addButton("&Cancel", QDialogButtonBox::RejectRole);
    cancel->setObjectName("btnCancel");
    cancel->setAccessibleName("Cancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_edUserName, &QLineEdit::textChanged, this, &TAccountDialog::edChange);
    connect(m_edPassword, &QLineEdit::textChanged, this, &TAccountDialog::edChange);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    setMinimumWidth(320);
    edChange();
}

TAccountDialog::~TAccountDialog() = default;

QString TAccountDialog::UserName() const { return m_edUserName->text(); }

QString TAccountDialog::Password() const { return m_edPassword->text(); }

void TAccountDialog::SetAccount(const QString& userName, const QString& password)
{
    m_edUserName->setText(userName);
    m_edPassword->setText(password);
}

bool TAccountDialog::IsEmpty() const { return UserName().isEmpty() && Password().isEmpty(); }

void TAccountDialog::edChange()
{
    // OK only with both: an account without its password (or the reverse) is never sent.
    m_btnOK->setEnabled(!UserName().isEmpty() && !Password().isEmpty());
}

} // namespace pellix
