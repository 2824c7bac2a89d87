// TdlgSelectSkin: the "Select Skin" dialog: each skin clicked is applied at once; Cancel goes
// back to the skin that was current when the dialog opened.
#pragma once

#include <QDialog>

#include <functional>

#include "workspace/skin.h"

class QListWidget;
class QPushButton;

namespace pellix {

class TPXApp;

class TdlgSelectSkin final : public QDialog {
    Q_OBJECT
public:
    // apply re-applies the stored skin to the program's windows.
    TdlgSelectSkin(TPXApp& app, std::function<void()> apply, QWidget* parent = nullptr);

    QListWidget* lbSkins = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;
    QPushButton* btnDownload = nullptr;

public slots:
    void reject() override;

private:
    void lbSkinsClick();
    void btnDownloadClick();

    TPXApp& m_app;
    std::function<void()> m_apply;
    TSkinChoice m_choice;
};

} // namespace pellix
