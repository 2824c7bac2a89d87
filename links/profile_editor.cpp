#include "links/profile_editor.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "links/text_helpers.h"

namespace pellix {

namespace fs = std::filesystem;

namespace {

int LocationOrNone(int location)
{
    return location >= kLocationCurrentDirectory && location <= kLocationAnywhere ? location : -1;
}

// "Current site" wins over "Current directory", which wins over "Anywhere", as the buttons are
// read; with none checked the value stays.
int LocationOf(int field, int current) { return field < 0 ? current : field; }

// Why name cannot name a profile file, or empty.
std::string NameProblem(const std::string& name)
{
    std::string trimmed = name;
    trimmed.erase(0, trimmed.find_first_not_of(' '));
    trimmed.erase(trimmed.find_last_not_of(' ') + 1);
    if (trimmed.empty())
        return "A profile needs a name.";
    if (ReplaceIllegalChars(name, '_') != name || trimmed == "." || trimmed == ".." || trimmed.front() == '.')
        return "A profile name cannot hold any of \\ / : * ? \" < > | or start with a dot.";
    if (LowerCase(trimmed) == LowerCase(kCustomProfileName))
        return std::string("\"") + kCustomProfileName + "\" stands for a task's own settings; choose another name.";
    return {};
}

} // namespace

TProfileEditFields ProfileEditFieldsOf(const TPXProfile& profile, const std::string& caption)
{
    TProfileEditFields fields;
    fields.profileName = caption;
    fields.useStartPageTitle = profile.UseStartPageTitle();
    fields.allFileTypes = profile.FileTypes().empty();
    fields.fileTypes = profile.FileTypes();
    fields.includeFilters = profile.IncludeFilters();
    fields.excludeFilters = profile.ExcludeFilters();
    const int depth = profile.Depth();
    if (depth == -1) {
        fields.depth = TDepthChoice::All;
    } else if (depth == 0) {
        fields.depth = TDepthChoice::PageOnly;
    } else {
        fields.depth = TDepthChoice::Levels;
        // The levels box holds 1 to 20; a stored value beyond it shows at its nearest end.
        fields.levels = std::clamp(depth, 1, 20);
    }
    fields.pageLocation = LocationOrNone(profile.PageLocation());
    fields.resourceLocation = LocationOrNone(profile.ResourceLocation());
    return fields;
}

void ApplyProfileEditFields(TPXProfile& profile, const TProfileEditFields& fields)
{
    profile.SetProfileName(fields.profileName);
    switch (fields.depth) {
    case TDepthChoice::All: profile.SetDepth(-1); break;
    case TDepthChoice::PageOnly: profile.SetDepth(0); break;
    case TDepthChoice::Levels: profile.SetDepth(fields.levels); break;
    case TDepthChoice::None: break;
    }
    profile.SetFileTypes(fields.allFileTypes ? std::vector<std::string>{} : fields.fileTypes);
    profile.SetPageLocation(LocationOf(fields.pageLocation, profile.PageLocation()));
    profile.SetResourceLocation(LocationOf(fields.resourceLocation, profile.ResourceLocation()));
    profile.SetUseStartPageTitle(fields.useStartPageTitle);
    profile.SetExcludeFilters(fields.excludeFilters);
    profile.SetIncludeFilters(fields.includeFilters);
}

TProfileEditor::TProfileEditor(std::string folder) : m_folder(std::move(folder))
{
    if (!m_folder.empty() && m_folder.back() != '/')
        m_folder += '/';
}

std::vector<std::string> TProfileEditor::ProfileNames() const
{
    std::vector<std::string> names;
    for (const std::string& file : FilesIn(m_folder, "*.pxp"))
        names.push_back(FileNameNoExt(file));
    std::sort(names.begin(), names.end());
    return names;
}

TProfileEditFields TProfileEditor::Select(const std::string& caption)
{
    m_profile = TPXProfile();
    m_profile.SetProfileFile(FileOf(caption));
    m_profile.Load();
    m_caption = caption;
    m_selected = true;
    m_changed = false;
    return ProfileEditFieldsOf(m_profile, caption);
}

std::string TProfileEditor::SaveQuestion(const std::string& editedName)
{
    return "Save changes to profile: " + editedName + "?";
}

void TProfileEditor::MarkChanged()
{
    if (m_selected && !m_loading)
        m_changed = true;
}

TProfileEditResult TProfileEditor::Save(const TProfileEditFields& fields)
{
    if (!m_selected)
        return {false, "No profile is selected."};
    TPXProfile edited = m_profile;
    ApplyProfileEditFields(edited, fields);
    std::string error;
    if (!edited.Save(&error))
        return {false, "The profile could not be saved: " + error};
    m_profile = std::move(edited);
    m_changed = false;
    return {};
}

TProfileEditResult TProfileEditor::Rename(const std::string& newName, const TProfileEditFields& fields)
{
    if (!m_selected)
        return {false, "No profile is selected."};
    if (const std::string problem = NameProblem(newName); !problem.empty())
        return {false, problem};
    const std::string oldFile = m_profile.ProfileFile();
    const std::string newFile = FileOf(newName);
    std::error_code ec;
    const bool sameFile = newFile == oldFile || (fs::exists(newFile, ec) && fs::equivalent(oldFile, newFile, ec));
    // Another profile's file is never overwritten by a rename.
    if (!sameFile && fs::exists(newFile, ec))
        return {false, "A profile named " + newName + " already exists."};

    TPXProfile renamed = m_profile;
    ApplyProfileEditFields(renamed, fields);
    renamed.SetProfileName(newName);
    renamed.SetProfileFile(newFile);
    std::string error;
    // The new file first: a failed write leaves the old profile where it was.
    if (!renamed.Save(&error))
        return {false, "The profile could not be saved: " + error};
    if (!sameFile)
        fs::remove(oldFile, ec);
    m_profile = std::move(renamed);
    m_caption = newName;
    m_changed = false;
    return {};
}

TProfileEditResult TProfileEditor::Delete()
{
    m_changed = false;
    if (!m_selected)
        return {false, "No profile is selected."};
    const std::string file = m_profile.ProfileFile();
    Deselect();
    std::error_code ec;
    if (!fs::exists(file, ec))
        return {};
    const bool removed = m_remover ? m_remover(file) : fs::remove(file, ec);
    if (!removed)
        return {false, "The profile " + file + " could not be deleted."};
    return {};
}

void TProfileEditor::Deselect()
{
    m_selected = false;
    m_changed = false;
    m_caption.clear();
    m_profile = TPXProfile();
}

} // namespace pellix
