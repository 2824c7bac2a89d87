// TTaskEditor: the modal dialog in which a task is created or changed, in its three captions.
#pragma once

#include <QDialog>

#include <memory>

#include "links/file_type_tree.h"
#include "tasks/task_edit.h"
#include "tasks/ui/message_box.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStackedWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace pellix {

class TAccountDialog;
class TPXTask;
class TScheduleDialog;
class TSession;

// Which caller opened the editor; it decides the caption and a few rules.
enum class TTaskEditorCaption {
    Edit,   // "Edit Task": the task list's Edit command
    Add,    // "Add a Task": a task file opened into the task list
    Create, // "Create New Task": a task created from an address
};

class TTaskEditor final : public QDialog {
    Q_OBJECT
public:
    TTaskEditor(TSession& session, std::shared_ptr<TPXTask> task, TTaskEditorCaption caption,
                QWidget* parent = nullptr);
    ~TTaskEditor() override;

    // After OK with the caption "Add a Task": an existing task file of the same name was replaced.
    bool ReplacedExisting() const { return m_replacedExisting; }
    // After OK: the chosen category is not the application's last category.
    bool MovedCategory() const { return m_movedCategory; }

    // The controls as plain values, and back (the loading guard is set while they are filled).
    TTaskEditFields Fields() const;
    void ShowFields(const TTaskEditFields& fields);

    // Message boxes go through the handler when one is set (tests answer them).
    void SetMessageHandler(TMessageHandler handler) { m_messages = std::move(handler); }
    // Runs instead of the modal account and schedule dialogs when set (tests drive them).
    std::function<int(QDialog&)> execDialog;

    TAccountDialog& AccountDialog() { return *m_account; }
    const TFileTypeTree& FileTypeTree() const { return m_tree; }
    // Clicks a file-type node's check image (the tree's node index).
    void ToggleFileType(std::size_t node);
    // Adds a URL filter as the "Add" menus do: prefix "[AL]", "[PL]" or "[RL]".
    void AddFilter(bool include, const QString& prefix, const QString& text);

    // Controls by their names.
    QLineEdit* edTaskName = nullptr;
    QComboBox* cmbTaskCategory = nullptr;
    QComboBox* cmbProfile = nullptr;
    QListWidget* ListView1 = nullptr;
    QStackedWidget* pages = nullptr;
    QComboBox* cmbURL = nullptr;
    QCheckBox* cbUserNamePassword = nullptr;
    QPushButton* btnUserNamePassword = nullptr;
    QRadioButton* rbZip = nullptr;
    QLineEdit* edFileName = nullptr;
    QPushButton* btnNewZip = nullptr;
    QPushButton* btnOpenZip = nullptr;
    QCheckBox* cbUseStartPageTitle = nullptr;
    QRadioButton* rbIntranet = nullptr;
    QLineEdit* edIntranetFolder = nullptr;
    QPushButton* btnNewIntranet = nullptr;
    QCheckBox* cbAll = nullptr;
    QTreeWidget* tvFileTypes = nullptr;
    QPushButton* btnNew = nullptr;
    QPushButton* btnEdit = nullptr;
    QPushButton* btnDelete = nullptr;
    QRadioButton* rbPagesDir = nullptr;
    QRadioButton* rbPagesSite = nullptr;
    QRadioButton* rbPagesAnywhere = nullptr;
    QRadioButton* rbPageOnly = nullptr;
    QRadioButton* rbLevels = nullptr;
    QSpinBox* edLevels = nullptr;
    QRadioButton* rbAll = nullptr;
    QRadioButton* rbResDir = nullptr;
    QRadioButton* rbResSite = nullptr;
    QRadioButton* rbResAnywhere = nullptr;
    QCheckBox* cbAggressiveParser = nullptr;
    QRadioButton* rbAPScripts = nullptr;
    QRadioButton* rbAPAll = nullptr;
    QListWidget* lbInc = nullptr;
    QListWidget* lbEx = nullptr;
    QPushButton* btnIncEdit = nullptr;
    QPushButton* btnIncRemove = nullptr;
    QPushButton* btnExEdit = nullptr;
    QPushButton* btnExRemove = nullptr;
    QRadioButton* rbcflNone = nullptr;
    QRadioButton* rbcflAll = nullptr;
    QRadioButton* rbculNone = nullptr;
    QRadioButton* rbculWebsite = nullptr;
    QRadioButton* rbculAll = nullptr;
    QRadioButton* rbScheduleNow = nullptr;
    QRadioButton* rbScheduleAt = nullptr;
    QLineEdit* edSchedule = nullptr;
    QPushButton* btnSchedule = nullptr;
    QRadioButton* rbScheduleLater = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;
    QPushButton* btnReset = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* BuildAddressPage();
    QWidget* BuildSaveToPage();
    QWidget* BuildFileTypesPage();
    QWidget* BuildFollowedPage();
    QWidget* BuildAdvancedPage();
    QWidget* BuildFiltersPage();
    QWidget* BuildConversionPage();
    QWidget* BuildSchedulePage();
    QWidget* BuildFilterList(bool include);

    void FormShow();
    void ShowProfileFields(const TTaskEditFields& fields);
    void ShowFileTypes();
    void ListView1Change(int row);
    void cmbURLChange();
    void cmbProfileChange(int index);
    void SetCustomProfile();
    void cbAggressiveParserClick();
    void rbIntranetClick();
    void btnNewZipClick();
    void btnOpenZipClick();
    void btnNewIntranetClick();
    void cbUserNamePasswordClick();
    void btnUserNamePasswordClick();
    void tvFileTypesChange(QTreeWidgetItem* item, int column);
    void cbAllClick();
    void tvFileTypesSelect();
    void btnDeleteClick();
    void NotAvailable();
    void FilterEdit(bool include);
    void FilterRemove(bool include);
    void FilterSelect();
    void btnScheduleClick();
    void edScheduleChange();
    void btnOKClick();
    int Exec(QDialog& dialog);
    QString AskFilter(const QString& title, const QString& text, bool* ok);

    TSession& m_session;
    std::shared_ptr<TPXTask> m_task;
    TTaskEditorCaption m_caption;
    bool m_replacedExisting = false;
    bool m_movedCategory = false;
    bool m_loading = false;
    TAccountDialog* m_account = nullptr;
    TFileTypeTree m_tree;
    std::vector<QTreeWidgetItem*> m_treeItems; // by node index
    TMessageHandler m_messages;
};

} // namespace pellix
