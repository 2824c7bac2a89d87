// TdlgEditProfile: the "Profiles Editor": the named profiles of the profiles folder, created,
// renamed, edited and deleted. The rules live in TProfileEditor; this window shows and asks.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <vector>

#include "links/file_type_tree.h"
#include "links/profile_editor.h"
#include "tasks/ui/message_box.h"

class QCheckBox;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTreeWidget;
class QTreeWidgetItem;

namespace pellix {

class TPXApp;

class TdlgEditProfile final : public QDialog {
    Q_OBJECT
public:
    explicit TdlgEditProfile(TPXApp& app, QWidget* parent = nullptr);
    ~TdlgEditProfile() override;

    // Message boxes go through the handler when one is set (tests answer them).
    void SetMessageHandler(TMessageHandler handler) { m_messages = std::move(handler); }
    // Answers the filter text box instead of the modal one when set: title and text in, the
    // text out, ok false for Cancel.
    std::function<QString(const QString& title, const QString& text, bool* ok)> askFilter;

    const TProfileEditor& Editor() const { return m_editor; }
    const TFileTypeTree& FileTypeTree() const { return m_tree; }
    // The controls as plain values.
    TProfileEditFields Fields() const;
    // A click on a file-type node's check image (the tree's node index).
    void ToggleFileType(std::size_t node);
    // What the "Add" menus do: marker "[AL]", "[PL]" or "[RL]".
    void AddFilter(bool include, const QString& marker);
    void EditFilter(bool include);
    void RemoveFilter(bool include);
    // The list item of the named profile, or null.
    QListWidgetItem* ProfileItem(const QString& name) const;
    // Renames the item as finishing an edit of its caption does.
    void RenameItem(QListWidgetItem* item, const QString& text);

    QListWidget* lvProfiles = nullptr;
    QLineEdit* edProfileName = nullptr;
    QCheckBox* cbUseStartPageTitle = nullptr;
    QCheckBox* cbAll = nullptr;
    QTreeWidget* tvFileTypes = nullptr;
    QRadioButton* rbPageOnly = nullptr;
    QRadioButton* rbLevels = nullptr;
    QSpinBox* edLevels = nullptr;
    QRadioButton* rbAll = nullptr;
    QRadioButton* rbPagesDir = nullptr;
    QRadioButton* rbPagesSite = nullptr;
    QRadioButton* rbPagesAnywhere = nullptr;
    QRadioButton* rbResDir = nullptr;
    QRadioButton* rbResSite = nullptr;
    QRadioButton* rbResAnywhere = nullptr;
    QListWidget* lbInc = nullptr;
    QListWidget* lbEx = nullptr;
    QPushButton* btnIncAdd = nullptr;
    QPushButton* btnIncEdit = nullptr;
    QPushButton* btnIncRemove = nullptr;
    QPushButton* btnExAdd = nullptr;
    QPushButton* btnExEdit = nullptr;
    QPushButton* btnExRemove = nullptr;
    QPushButton* btnProfileNew = nullptr;
    QPushButton* btnProfileDelete = nullptr;
    QPushButton* btnCancel = nullptr;

public slots:
    void reject() override;
    void btnProfileNewClick();
    void btnProfileDeleteClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* BuildGeneralPage();
    QWidget* BuildFileTypesPage();
    QWidget* BuildFiltersPage();
    QWidget* BuildFilterList(bool include);
    void ListProfiles(const QString& select = {});
    void lvProfilesChange(QListWidgetItem* current, QListWidgetItem* previous);
    void lvProfilesEdited(QListWidgetItem* item);
    void LeaveProfile();
    void ShowFields(const TProfileEditFields& fields);
    void ShowFileTypes();
    void tvFileTypesChange(QTreeWidgetItem* item, int column);
    void cbAllClick();
    void FilterSelect();
    void EnableControls();
    void Changed();
    QString AskFilter(const QString& title, const QString& text, bool* ok);
    QMessageBox::StandardButton Ask(QMessageBox::Icon icon, const QString& text,
                                    QMessageBox::StandardButtons buttons = QMessageBox::Ok);

    TPXApp& m_app;
    TProfileEditor m_editor;
    TFileTypeTree m_tree;
    std::vector<QTreeWidgetItem*> m_treeItems; // by node index
    TMessageHandler m_messages;
    bool m_listing = false; // the list is being filled or an item renamed by the program
};

} // namespace pellix
