// TAccountDialog: the site's account name and password for a task, kept while the editor is open.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

namespace pellix {

class TAccountDialog final : public QDialog {
    Q_OBJECT
public:
    explicit TAccountDialog(QWidget* parent = nullptr);
    ~TAccountDialog() override;

    QString UserName() const;
    QString Password() const;
    void SetAccount(const QString& userName, const QString& password);
    // Neither an account nor a password typed yet.
    bool IsEmpty() const;

    QLineEdit* UserNameEdit() const { return m_edUserName; }
    QLineEdit* PasswordEdit() const { return m_edPassword; }
    QPushButton* OKButton() const { return m_btnOK; }

private:
    void edChange();

    QLineEdit* m_edUserName = nullptr;
    QLineEdit* m_edPassword = nullptr;
    QPushButton* m_btnOK = nullptr;
};

} // namespace pellix
