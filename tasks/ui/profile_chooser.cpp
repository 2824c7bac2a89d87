#include "tasks/ui/profile_chooser.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "tasks/task_edit.h"
#include "workspace/app_settings.h"

namespace pellix {

TProfileChooser::TProfileChooser(TPXApp& app, const QString& address, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint), m_app(app)
{
    setWindowTitle("Auto-Pellix");

    auto* addressPanel = new QWidget(this);
    auto* caption = new QLabel("Starting Address:", addressPanel);
    lblURL = new QLabel(address, addressPanel);
    lblURL->setObjectName("lblURL");
    lblURL->setAccessibleName("Starting Address:");
    lblURL->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblURL->setWordWrap(true);
    auto* addressLayout = new QVBoxLayout(addressPanel);
    addressLayout->setContentsMargins(6, 6, 6, 6);
    addressLayout->addWidget(caption);
    addressLayout->addWidget(lblURL);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(0);
    layout->addWidget(addressPanel);

    std::vector<QPushButton*> buttons;
    auto add = [&](const QString& text, const char* name) {
        auto* button = new QPushButton(text, this);
        button->setObjectName(name);
        button->setAccessibleName(text);
        button->setAutoDefault(false);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        layout->addWidget(button);
        buttons.push_back(button);
        return button;
    };
    connect(add("Cancel", "btnCancel"), &QPushButton::clicked, this, &QDialog::reject);
    connect(add("Use Pellix Wizard...", "btnWizard"), &QPushButton::clicked, this, [this] { Choose({}); });
    for (const std::string& name : StoredProfileNames(m_app)) {
        const QString profile = QString::fromStdString(name);
        connect(add(profile, "btnProfile"), &QPushButton::clicked, this, [this, profile] { Choose(profile); });
    }

    // As tall as its buttons and the address, so every profile is in view without scrolling.
    const int buttonHeight = buttons.front()->sizeHint().height();
    setFixedHeight(static_cast<int>(buttons.size()) * buttonHeight + addressPanel->sizeHint().height() + 16);
    setMinimumWidth(std::max(280, lblURL->sizeHint().width() + 24));
    resize(std::min(width(), 520), height());
}

TProfileChooser::~TProfileChooser() = default;

QPushButton* TProfileChooser::Button(const QString& text) const
{
    for (QPushButton* button : findChildren<QPushButton*>())
        if (button->text() == text)
            return button;
    return nullptr;
}

void TProfileChooser::Choose(const QString& profileName)
{
    m_profileName = profileName;
    accept();
}

} // namespace pellix
