#include "workspace/skin.h"

#include <algorithm>
#include <system_error>

#include "workspace/app_settings.h"

namespace pellix {

namespace fs = std::filesystem;

std::vector<std::string> SkinNames(const TPXApp& app)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(app.ProgramFolder()) / "Skins", ec), end; !ec && it != end;
         it.increment(ec))
        if (it->is_directory(ec))
            names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string SkinImage(const TPXApp& app, const std::string& fileName, const fs::path& dataFolder)
{
    std::error_code ec;
    const fs::path own = fs::path(app.SkinsFolder()) / fileName;
    if (fs::is_regular_file(own, ec))
        return own.string();
    const fs::path shipped = dataFolder / "Skins" / kDefaultSkin / fileName;
    if (fs::is_regular_file(shipped, ec))
        return shipped.string();
    return {};
}

TSkinChoice::TSkinChoice(TPXApp& app) : m_app(app), m_original(app.Skin()) {}

bool TSkinChoice::Choose(const std::string& name)
{
    if (name.empty() || name == m_app.Skin())
        return false;
    m_app.SetSkin(name);
    return true;
}

bool TSkinChoice::Cancel()
{
    if (m_app.Skin() == m_original)
        return false;
    m_app.SetSkin(m_original);
    return true;
}

} // namespace pellix
