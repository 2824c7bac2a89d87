// TExploreView: the Explore view: every item of the current task with its state, the marks for
// the next run in a pop-up menu and on the state image, and browsing an item online or offline.
#pragma once

#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tasks/explore_rules.h"
#include "tasks/ui/message_box.h"
#include "workspace/session_observer.h"

class QAction;
class QLineEdit;
class QMenu;
class QModelIndex;
class QPoint;
class QTreeView;

namespace pellix {

class TExploreModel;
class TPXQItem;
class TSession;

// Thin: which items a mark changes, what it sets and where browsing leads come from the rules in
// tasks/explore_rules.h; the view shows the rows and the menu and hands the results on.
class TExploreView final : public QWidget, private ISessionObserver {
    Q_OBJECT
public:
    explicit TExploreView(TSession& session, QWidget* parent = nullptr);
    ~TExploreView() override;

    // Offline in zip mode: the main window shows the Zip entry; online (and an intranet task's
    // local file): the address. By default the system's browser opens the target.
    using TBrowseZipEntry = std::function<void(const QString& zipPath, const QString& entryName)>;
    using TBrowseAddress = std::function<void(const QString& address)>;
    void SetBrowseHooks(TBrowseZipEntry zipEntry, TBrowseAddress address);
    void SetMessageHandler(TMessageHandler handler) { m_messages = std::move(handler); }
    // The browser programs of the menu's two slots (looked up on PATH by default; empty: absent).
    void SetBrowserPrograms(std::string first, std::string second);

    // Shows the runner's current task (also done when the view is shown and when it changes).
    void BindCurrentTask();
    // Runs a mark command on the selected rows or the whole list, as the pop-up menu does.
    TMarkResult Mark(TExploreMark mark);
    // A press on the state image of a shown row.
    bool ToggleRow(int row);
    // Browse the selected row: online or offline, with a given slot's browser (0, 1) or the
    // default one (-1) as a double-click does.
    void Browse(bool online, int browser);

    TExploreModel& Model() { return *m_model; }
    QTreeView* lvExplore = nullptr;
    QLineEdit* edFilter = nullptr;
    QMenu* popExplore = nullptr;
    // The pop-up menu's actions by mark, and the browse actions [online][slot].
    QAction* MarkAction(TExploreMark mark) const { return m_markActions.at(mark); }
    QAction* BrowseAction(bool online, int slot) const { return m_browseActions[online ? 1 : 0][slot]; }

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenu();
    void UpdateMenu();
    void lvExploreMouseDown(const QPoint& viewportPos, Qt::MouseButton button);
    void lvExploreDblClick(const QModelIndex& index);
    void ShowMenuAt(const QPoint& globalPos);
    std::vector<TPXQItem*> SelectedItems() const;
    void Error(const QString& text);

    // ISessionObserver: a task other than the shown one became current.
    void OnItemsCleared(TPXTask& task) override;
    void OnItemAdded(TPXTask& task, TPXQItem& item) override;
    void OnTaskChanged(TPXTask& task) override;
    void FollowCurrentSoon(TPXTask& task);

    TSession& m_session;
    TExploreModel* m_model = nullptr;
    TBrowseZipEntry m_browseZipEntry;
    TBrowseAddress m_browseAddress;
    TMessageHandler m_messages;
    std::string m_browsers[2];
    std::map<TExploreMark, QAction*> m_markActions;
    QAction* m_browseActions[2][2] = {};
    bool m_rebindPosted = false;
};

} // namespace pellix
