// TZipManagerView: the Zip Properties view (the zip file list with its totals) and the zip
// manager's commands over the zip tree and the page tree of the left pane.
#pragma once

#include <QPersistentModelIndex>
#include <QString>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "workspace/offline_address.h"
#include "workspace/session_observer.h"
#include "workspace/unzip_choice.h"
#include "workspace/zip_manager.h"
#include "workspace/zip_manager_rules.h"
#include "workspace/zip_wizard_choice.h"

class QLabel;
class QToolButton;
class QTreeView;

namespace pellix {

class TSession;
class TZipIconCache;
class TZipListModel;
class TZipPageModel;
class TZipTreeModel;

enum class TBrowseWith { FirstBrowser, SecondBrowser, TextEditor, Default };

class TZipManagerView final : public QWidget, public ISessionObserver {
    Q_OBJECT
public:
    // zipTree and pageTree are the left pane's trees; this view gives them their models.
    TZipManagerView(TSession& session, QTreeView* zipTree, QTreeView* pageTree, QWidget* parent = nullptr);
    ~TZipManagerView() override;

    // Hooks; by default message boxes and the real dialogs. Tests set them.
    std::function<void(TRunnerMessageKind, const QString&)> Message;
    std::function<bool(const QString& title, const QString& question)> Confirm;
    std::function<TReplaceButton(const QString& text)> AskReplace;
    std::function<std::optional<TZipWizardChoice>(const TZipWizardPreset&)> RunWizard;
    std::function<std::optional<TUnzipChoice>(bool allFiles)> RunUnzip;
    std::function<QString()> AskOpenPath;
    std::function<bool(TBrowseWith with, const std::string& localFile)> Launch;

    // Commands.
    void OpenZip(const QString& path);
    void OpenDialog();
    void CloseZip();
    void NewFileZip();
    void AddFiles(const QStringList& dropped = {});
    void DeleteSelection();
    void Unzip();
    void Rename();
    void Browse(TBrowseWith with);
    void DayZip(const QString& shortDate);
    void Cancel() { m_manager->Cancel(); }

    TZipCommands Commands(bool firstBrowser, bool secondBrowser) const;
    TFocusKind Focus() const;
    bool ZipSelected() const;
    std::string SelectedZipPath() const;
    // What the Browse view shows of the left pane's selection: the selected Zip file and the
    // entry of the selected file (zip tree) or page (page list); no entry for a Zip or a folder.
    TZipEntryRef BrowseSelection(bool pageList) const;

    // For tests and the figures.
    TZipManager& Manager() { return *m_manager; }
    TZipTreeModel& TreeModel() { return *m_treeModel; }
    TZipListModel& ListModel() { return *m_listModel; }
    TZipPageModel& PageModel() { return *m_pageModel; }
    TZipIconCache& Icons() { return *m_icons; }
    QTreeView* List() const { return m_list; }
    QString TotalsText() const;
    QString SelectionText() const;
    bool SelectNode(const std::string& zipPath, const std::string& entryPath = {});
    // The folder entries of this Zip are extracted to for browsing.
    std::string BrowseFolder(const std::string& zipPath) const;

    void OnZipPacked(TPXTask& task, std::size_t entries) override;
    void OnTaskChanged(TPXTask& task) override;

signals:
    // A Zip was opened or created (the recent-zip list takes it), renamed, or a page chosen.
    void ZipOpened(const QString& path);
    void ZipRenamed(const QString& oldPath, const QString& newPath);
    void PageChosen(const QString& zipPath, const QString& entry);
    // The current node of the zip tree or the current page of the page list changed.
    void SelectionMoved();
    void ShowRequested();
    // A zip operation started or ended: the commands it disables change.
    void BusyChanged();

private:
    struct TZipData {
        std::vector<TZipEntry> rows;
        bool extracted = false;
    };
    void Show(TRunnerMessageKind kind, const std::string& text);
    void ShowView(const TZipResultView& view);
    void Refused(const std::string& text);
    void OpenThen(const std::string& path, std::function<void()> then);
    void CreateNode(const std::string& path);
    void ActOnWizard(const TZipWizardChoice& choice);
    void AddChosen(const TZipWizardChoice& choice);
    void ApplyChange(const std::string& path, const TZipChange& change);
    void ApplyRows(const std::string& path, std::vector<TZipEntry> rows);
    void CurrentChanged(const QModelIndex& current, const QModelIndex& previous);
    void ListNode();
    void RebuildPages();
    void UpdateSelectionText();
    void UpdateBusy();
    void RunPending();
    bool RenameZip(TZipTree& tree, const QString& newName);
    std::string TaskZipPath() const;
    std::vector<std::string> SelectedListEntries() const;

    TSession& m_session;
    QTreeView* m_zipTree;
    QTreeView* m_pageTree;
    QTreeView* m_list = nullptr;
    QLabel* m_totals = nullptr;
    QLabel* m_selection = nullptr;
    QToolButton* m_cancel = nullptr;
    std::unique_ptr<TZipIconCache> m_icons;
    TZipTreeModel* m_treeModel = nullptr;
    TZipListModel* m_listModel = nullptr;
    TZipPageModel* m_pageModel = nullptr;
    std::map<std::string, TZipData> m_data;  // by Zip path
    std::string m_pagesOf;                    // the Zip the page list shows
    QPersistentModelIndex m_lastCurrent;
    bool m_reverting = false;
    std::string m_relistPath;  // a task packed into this open Zip: list it again when idle
    std::string m_editorExec;
    bool m_editorLooked = false;
    std::unique_ptr<TZipManager> m_manager;  // last: its worker goes first
};

} // namespace pellix
