#include "workspace/ui/about_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <openssl/crypto.h>
#include <zip.h>
#include <zlib.h>

#include "workspace/app_settings.h"
#include "workspace/main_window_rules.h"
#include "workspace/ui/skin_images.h"

namespace pellix {

TdlgAbout::TdlgAbout(TPXApp& app, QWidget* parent) : QDialog(parent)
{
    setWindowTitle("About Pellix");
    setObjectName("dlgAbout");
    const QColor light = QColor::fromRgb(app.Colours().light);

    tabs = new QTabWidget(this);
    tabs->setObjectName("tabsAbout");
    // The tab captions on the scheme's light colour, in a dark text that reads on it.
    tabs->tabBar()->setStyleSheet(QString("QTabBar::tab { background: %1; color: black; padding: 4px 12px; "
                                          "border: 1px solid #808080; border-bottom: none; }"
                                          "QTabBar::tab:selected { font-weight: bold; }")
                                      .arg(light.name()));

    auto* about = new QWidget(tabs);
    auto* name = new QLabel(kMainWindowCaption, about);
    QFont big = name->font();
    big.setPointSizeF(big.pointSizeF() * 1.8);
    big.setBold(true);
    name->setFont(big);
    auto* logo = new QLabel(about);
    logo->setPixmap(windowIcon().pixmap(48, 48));
    const QPixmap mark = LoadSkinPixmap(SkinImagePath(app, "pxmode.bmp"));
    if (!mark.isNull())
        logo->setPixmap(mark.scaled(48, 48, Qt::KeepAspectRatio, Qt::FastTransformation));
    lblVersion = new QLabel(kAboutVersion, about);
    lblVersion->setObjectName("lblVersion");
    lblVersion->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* text = new QLabel("The offline browser: Pellix downloads whole websites, packs them into one Zip file "
                            "per task or keeps them as a folder tree of your personal intranet, and lets you "
                            "browse them without a network.",
                            about);
    text->setWordWrap(true);
    auto* aboutLayout = new QVBoxLayout(about);
    auto* head = new QHBoxLayout;
    head->addWidget(logo);
    head->addWidget(name, 1);
    aboutLayout->addLayout(head);
    aboutLayout->addWidget(lblVersion);
    aboutLayout->addSpacing(8);
    aboutLayout->addWidget(text);
    aboutLayout->addStretch();
    tabs->addTab(about, "About");

    auto* parts = new QWidget(tabs);
    auto* partsText = new QLabel(QString("Built with:\n\nQt %1\n%2\nlibzip %3\nzlib %4")
                                     .arg(qVersion(), OpenSSL_version(OPENSSL_VERSION), zip_libzip_version(),
                                          zlibVersion()),
                                 parts);
    partsText->setObjectName("lblComponents");
    partsText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* partsLayout = new QVBoxLayout(parts);
    partsLayout->addWidget(partsText);
    partsLayout->addStretch();
    tabs->addTab(parts, "Components");

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs, 1);
    layout->addWidget(buttons);
    resize(420, 280);
}

} // namespace pellix
