// TwizFileZip: the "File Zip Wizard": which Zip file, what to add to it and how; TZipWizard runs it.
#pragma once

#include <QDialog>
#include <QStringList>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tasks/ui/message_box.h"
#include "workspace/zip_wizard_choice.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QStackedWidget;
class QTreeWidget;

namespace pellix {

class TPXApp;

class TwizFileZip final : public QDialog {
    Q_OBJECT
public:
    TwizFileZip(TPXApp& app, const TZipWizardPreset& preset, QWidget* parent = nullptr);
    ~TwizFileZip() override;

    // The file dialogs: "New Zip File", "Open Zip File" and "Add Files". Tests answer them.
    enum class TPrompt { NewZip, OpenZip, AddFiles };
    using TPathPrompt = std::function<QStringList(TPrompt prompt, const QString& folder)>;
    void SetPathPrompt(TPathPrompt prompt) { m_prompt = std::move(prompt); }
    void SetMessageHandler(TMessageHandler handler) { m_messages = std::move(handler); }

    // Set when the dialog was finished.
    const std::optional<TZipWizardChoice>& Choice() const { return m_choice; }
    int PageIndex() const;
    // Adds to the "Add Files:" list (sorted, duplicates ignored).
    void AddFiles(const std::vector<std::string>& files);
    const std::vector<std::string>& Files() const { return m_files; }

    QStackedWidget* pages = nullptr;
    QPushButton* btnBack = nullptr;
    QPushButton* btnNext = nullptr;
    QPushButton* btnCancel = nullptr;
    QPushButton* btnCreate = nullptr;
    QPushButton* btnOpen = nullptr;
    QLineEdit* edZipFileName = nullptr;
    std::array<QRadioButton*, 3> rbAction{};
    QTreeWidget* lvFiles = nullptr;
    QPushButton* btnAdd = nullptr;
    QPushButton* btnRemove = nullptr;
    QCheckBox* cbUsePaths = nullptr;
    QCheckBox* cbRecurse = nullptr;
    QSlider* tbCompression = nullptr;

private slots:
    void btnBackClick();
    void btnNextClick();
    void btnCreateClick();
    void btnOpenClick();
    void btnAddClick();
    void btnRemoveClick();

private:
    void ShowPage(int index);
    void SetOpenChoice(bool openExisting);
    void RefreshList();
    bool LeaveFirstPage();
    void Finish();
    QString DialogFolder() const;

    TPXApp& m_app;
    TPathPrompt m_prompt;
    TMessageHandler m_messages;
    std::string m_dialogFolder;
    bool m_openExisting = false;
    std::string m_replacePath;  // the file the user chose to replace in "New Zip File"
    std::vector<std::string> m_files;
    std::optional<TZipWizardChoice> m_choice;
};

class TZipWizard final {
public:
    // Modal; nothing when the user cancelled. Reads and writes the wizard's settings in app.
    static std::optional<TZipWizardChoice> Run(QWidget* parent, TPXApp& app, const TZipWizardPreset& preset);
};

} // namespace pellix
