// Zip wizard rules.
#include "workspace/zip_wizard_rules.h"

#include <algorithm>
#include <filesystem>

#include "workspace/app_settings.h"

namespace pellix {

namespace fs = std::filesystem;

TZipWizardActions ZipWizardActions(bool openExisting, int action) {
    TZipWizardActions actions;
    if (!openExisting) {
        actions.enabled = {true, false, false};
        actions.checked = kZipAddReplace;
        return actions;
    }
    actions.checked = action >= kZipAddReplace && action <= kZipAddUpdate ? action : kZipAddReplace;
    return actions;
}

std::optional<std::string> CheckZipFileName(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return std::nullopt;
    }
    std::string name = text.substr(first, text.find_last_not_of(" \t") - first + 1);
    const fs::path path(name);
    if (!path.is_absolute() || name.back() == '/') {
        return std::nullopt;
    }
    const std::string leaf = path.filename().string();
    if (leaf.empty() || leaf == "." || leaf == "..") {
        return std::nullopt;
    }
    // ".zip" alone is an extension without a name.
    const std::size_t dot = leaf.find_last_of('.');
    if (dot == 0) {
        return std::nullopt;
    }
    if (dot == std::string::npos) {
        name += ".zip";
    } else if (dot + 1 == leaf.size()) {
        name += "zip";
    }
    return name;
}

bool ZipWizardOpensExisting(bool fileExists, bool replaceConfirmed) { return fileExists && !replaceConfirmed; }

void AddZipWizardFiles(std::vector<std::string>& list, const std::vector<std::string>& files) {
    for (std::string file : files) {
        while (file.size() > 1 && file.back() == '/') {
            file.pop_back();
        }
        if (file.empty()) {
            continue;
        }
        auto at = std::lower_bound(list.begin(), list.end(), file);
        if (at == list.end() || *at != file) {
            list.insert(at, std::move(file));
        }
    }
}

TZipWizardRow ZipWizardRow(const std::string& file, bool isFolder) {
    if (isFolder) {
        return {{}, file};
    }
    const fs::path path(file);
    return {path.filename().string(), path.parent_path().string()};
}

std::string ZipWizardCaption(std::size_t droppedCount) {
    if (droppedCount == 0) {
        return kZipWizardCaption;
    }
    return std::string(kZipWizardCaption) + " - " + std::to_string(droppedCount) +
           (droppedCount == 1 ? " file dropped." : " files dropped.");
}

std::string ZipWizardEntryName(const std::string& file, bool usePaths) {
    const fs::path path = fs::path(file).lexically_normal();
    return usePaths ? path.relative_path().generic_string() : path.filename().string();
}

TZipWizardDefaults ReadZipWizardDefaults(const TPXApp& app, const std::string& presetZip,
                                         const std::string& currentFolder) {
    TZipWizardDefaults defaults;
    defaults.action = std::clamp(app.ZipAction(), 0, 2);
    defaults.usePaths = app.UsePaths(false);
    defaults.compression = std::clamp(app.Compression(0), 0, 9);
    defaults.dialogFolder = app.ZipFolder();
    if (!presetZip.empty()) {
        defaults.fileName = presetZip;
    } else {
        // The folder the file dialogs start in, so that typing a name is enough.
        const std::string& folder = defaults.dialogFolder.empty() ? currentFolder : defaults.dialogFolder;
        defaults.fileName = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    }
    return defaults;
}

void StoreZipWizardChoice(TPXApp& app, const TZipWizardChoice& choice) {
    app.SetCompression(choice.compression);
    app.SetUsePaths(choice.usePaths);
    app.SetZipAction(static_cast<int>(choice.action));
    if (app.LastZipFolder()) {
        app.SetZipFolder(fs::path(choice.zipPath).parent_path().string() + "/");
    }
}

} // namespace pellix
