#include "workspace/ui/help_viewer.h"

#include <QMessageBox>
#include <QShortcut>
#include <QUrl>

#include <filesystem>

#include "workspace/app_settings.h"
#include "workspace/first_start.h"
#include "workspace/url_launcher.h"

namespace pellix {

QString HelpFile(const TPXApp& app)
{
    std::error_code ec;
    std::filesystem::path file = std::filesystem::path(app.ProgramFolder()) / "help" / "index.html";
    if (!std::filesystem::exists(file, ec))
        file = TFirstStart::DefaultDataFolder() / "help" / "index.html";
    if (!std::filesystem::exists(file, ec))
        return {};
    return QString::fromStdString(file.string());
}

bool ShowHelp(TPXApp& app, QWidget* parent, const QString& section)
{
    const QString file = HelpFile(app);
    QUrl url = QUrl::fromLocalFile(file);
    if (!section.isEmpty())
        url.setFragment(section);
    if (file.isEmpty() || !app.URLLauncher().Open(url.toString(QUrl::FullyEncoded).toStdString())) {
        QMessageBox::critical(parent, "Pellix",
                              "Unable to open the help file " + (file.isEmpty() ? QString("help/index.html") : file) + ".");
        return false;
    }
    return true;
}

void BindHelpKey(TPXApp& app, QWidget* window, const QString& section)
{
    auto* key = new QShortcut(QKeySequence::HelpContents, window);
    key->setContext(Qt::WindowShortcut);
    QObject::connect(key, &QShortcut::activated, window, [&app, window, section] { ShowHelp(app, window, section); });
}

} // namespace pellix
