// ShowHelp: opens the program's HTML help, at a section when one is named.
#pragma once

#include <QString>

class QWidget;

namespace pellix {

class TPXApp;

// The help page of the program folder (copied there at first start), else the installed one,
// in the default browser. False, after an error box on parent, when there is none or it could
// not be opened.
bool ShowHelp(TPXApp& app, QWidget* parent, const QString& section = {});
// The help page's file, empty when none exists.
QString HelpFile(const TPXApp& app);
// Binds F1 on the window to the help section (for dialogs, which the main window's key misses).
void BindHelpKey(TPXApp& app, QWidget* window, const QString& section);

} // namespace pellix
