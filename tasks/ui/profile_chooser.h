// TProfileChooser: offered for an address dropped onto the program or given at start-up: cancel,
// the task editor ("Use Pellix Wizard..."), or one of the stored profiles.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

namespace pellix {

class TPXApp;

class TProfileChooser final : public QDialog {
    Q_OBJECT
public:
    TProfileChooser(TPXApp& app, const QString& address, QWidget* parent = nullptr);
    ~TProfileChooser() override;

    // After OK: the chosen profile's name; empty for "Use Pellix Wizard...".
    QString ProfileName() const { return m_profileName; }

    QLabel* lblURL = nullptr;
    // The button captioned text, if any.
    QPushButton* Button(const QString& text) const;

private:
    void Choose(const QString& profileName);

    TPXApp& m_app;
    QString m_profileName;
};

} // namespace pellix
