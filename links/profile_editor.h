// TProfileEditor: the named profiles of the profiles folder as the profile editor edits them:
// listing, selecting, the controls' values, saving, renaming, deleting and the changed flag.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "links/profile.h"

namespace pellix {

// The depth buttons: which one is checked.
enum class TDepthChoice { None, PageOnly, Levels, All };

// What the editor's controls hold, as plain values. A location of -1 leaves its three buttons
// unchecked (a stored value other than 0, 1, 2).
struct TProfileEditFields {
    std::string profileName; // edProfileName
    bool useStartPageTitle = true;
    bool allFileTypes = true;           // cbAll
    std::vector<std::string> fileTypes; // the checked extensions in tree order
    TDepthChoice depth = TDepthChoice::All;
    int levels = 1;                     // edLevels, 1 to 20
    int pageLocation = kLocationCurrentSite;
    int resourceLocation = kLocationAnywhere;
    std::vector<std::string> includeFilters; // lbInc
    std::vector<std::string> excludeFilters; // lbEx

    bool operator==(const TProfileEditFields&) const = default;
};

inline constexpr const char* kNewProfileName = "New Profile";
inline constexpr const char* kProfilesEditorCaption = "Profiles Editor";

// The controls from a profile (the caption of the list item names it).
TProfileEditFields ProfileEditFieldsOf(const TPXProfile& profile, const std::string& caption);
// Steps 1 to 6 of saving: the controls into the profile. The values the editor has no control
// for (parser, link conversions, sizes) stay as they are.
void ApplyProfileEditFields(TPXProfile& profile, const TProfileEditFields& fields);

struct TProfileEditResult {
    bool ok = true;
    std::string message; // why nothing was done, for an error box
};

class TProfileEditor final {
public:
    // folder ends in "/" (the application's profiles folder).
    explicit TProfileEditor(std::string folder);

    // The names of the "*.pxp" files of the folder, without extension, sorted.
    std::vector<std::string> ProfileNames() const;

    // Loads the named profile (defaults when its file is missing) and returns its controls;
    // the changed flag goes off.
    TProfileEditFields Select(const std::string& caption);
    bool HasSelection() const { return m_selected; }
    const std::string& SelectedName() const { return m_caption; }
    const TPXProfile& Profile() const { return m_profile; }

    // "Save changes to profile: NAME?"
    static std::string SaveQuestion(const std::string& editedName);

    // The changed flag: an edit marks it only with a profile selected and outside loading.
    bool Changed() const { return m_changed; }
    void MarkChanged();
    void ClearChanged() { m_changed = false; }
    void SetLoading(bool loading) { m_loading = loading; }
    bool Loading() const { return m_loading; }

    // Applies the controls and writes the profile's file; the changed flag goes off on success.
    TProfileEditResult Save(const TProfileEditFields& fields);
    // Renames the selected profile to newName: the controls are applied, the file is written
    // under the new name and only then the old file is removed. A name that cannot be a file
    // name here, or that another profile already has, is refused and nothing changes.
    TProfileEditResult Rename(const std::string& newName, const TProfileEditFields& fields);
    // Removes the selected profile's file without asking; the selection ends.
    TProfileEditResult Delete();
    // Forgets the profile on screen (after "New" or a delete the list is read again).
    void Deselect();

    std::string FileOf(const std::string& name) const { return m_folder + name + ".pxp"; }
    // How Delete disposes of a file; by default it is removed. The desktop moves it to the trash.
    void SetRemover(std::function<bool(const std::string& file)> remover) { m_remover = std::move(remover); }

private:
    std::string m_folder;
    TPXProfile m_profile;
    std::string m_caption;
    bool m_selected = false;
    bool m_changed = false;
    bool m_loading = false;
    std::function<bool(const std::string&)> m_remover;
};

} // namespace pellix
