#include "workspace/ui/skin_dialog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "workspace/app_settings.h"
#include "workspace/ui/help_viewer.h"

namespace pellix {

TdlgSelectSkin::TdlgSelectSkin(TPXApp& app, std::function<void()> apply, QWidget* parent)
    : QDialog(parent), m_app(app), m_apply(std::move(apply)), m_choice(app)
{
    setWindowTitle(kSelectSkinCaption);
    setObjectName("dlgSelectSkin");
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, QColor::fromRgb(app.Colours().main));
    // Captions on the scheme's blue stay white whatever the desktop's palette.
    background.setColor(QPalette::WindowText, Qt::white);
    setPalette(background);

    auto* label = new QLabel("Skins:", this);
    lbSkins = new QListWidget(this);
    lbSkins->setObjectName("lbSkins");
    lbSkins->setAccessibleName("Skins");
    // The list keeps the desktop's own colours, so its names read with a dark or light palette.
    lbSkins->setPalette(QApplication::palette(lbSkins));
    label->setBuddy(lbSkins);
    for (const std::string& name : SkinNames(app)) {
        lbSkins->addItem(QString::fromStdString(name));
        if (name == app.Skin())
            lbSkins->setCurrentRow(lbSkins->count() - 1);
    }
    btnOK = new QPushButton("&OK", this);
    btnCancel = new QPushButton("&Cancel", this);
    btnDownload = new QPushButton("&Download", this);
    for (QPushButton* b : {btnOK, btnCancel, btnDownload}) {
        b->setObjectName(b == btnOK ? "btnOK" : b == btnCancel ? "btnCancel" : "btnDownload");
        b->setPalette(QApplication::palette(b));
    }
    btnOK->setDefault(true);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    buttons->addStretch();
    buttons->addWidget(btnDownload);
    auto* row = new QHBoxLayout;
    row->addWidget(lbSkins, 1);
    row->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addLayout(row, 1);
    resize(320, 240);

    // The mouse and the keys both choose: the current row is the chosen skin.
    connect(lbSkins, &QListWidget::currentRowChanged, this, &TdlgSelectSkin::lbSkinsClick);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &TdlgSelectSkin::reject);
    connect(btnDownload, &QPushButton::clicked, this, &TdlgSelectSkin::btnDownloadClick);
    BindHelpKey(app, this, "skins");
}

void TdlgSelectSkin::lbSkinsClick()
{
    QListWidgetItem* item = lbSkins->currentItem();
    if (item && m_choice.Choose(item->text().toStdString()) && m_apply)
        m_apply();
}

void TdlgSelectSkin::reject()
{
    if (m_choice.Cancel() && m_apply)
        m_apply();
    QDialog::reject();
}

// There is no skins page on the web: the help says how a skin is made.
void TdlgSelectSkin::btnDownloadClick() { ShowHelp(m_app, this, "skins"); }

} // namespace pellix
