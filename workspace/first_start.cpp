#include "workspace/first_start.h"

#include <unistd.h>

#include <cstdio>
#include <system_error>

#include "workspace/app_settings.h"
#include "workspace/product.h"
#include "workspace/reg_file_importer.h"

namespace pellix {

namespace fs = std::filesystem;

namespace {

// Copies every file of source into target, keeping files the user already has there.
void CopyMissing(const fs::path& source, const fs::path& target, std::vector<std::string>& problems)
{
    std::error_code ec;
    fs::recursive_directory_iterator it(source, ec);
    if (ec) {
        problems.push_back("cannot read the data folder " + source.string() + ": " + ec.message());
        return;
    }
    for (const fs::directory_entry& entry : it) {
        const fs::path relative = entry.path().lexically_relative(source);
        const fs::path destination = target / relative;
        std::error_code e;
        if (entry.is_directory(e)) {
            fs::create_directories(destination, e);
        } else if (entry.is_regular_file(e) && !fs::exists(destination, e)) {
            fs::create_directories(destination.parent_path(), e);
            if (!fs::copy_file(entry.path(), destination, fs::copy_options::skip_existing, e) && e)
                problems.push_back("cannot copy " + relative.string() + ": " + e.message());
        }
    }
}

// Moves files with the extension lying directly in folder into folder/General/; a file whose
// name is already taken there stays where it is.
void MoveIntoGeneral(const fs::path& folder, const std::string& extension,
                     std::vector<std::string>& problems)
{
    std::error_code ec;
    const fs::path general = folder / "General";
    fs::create_directories(general, ec);
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
        std::error_code e;
        if (!entry.is_regular_file(e))
            continue;
        std::string ext = entry.path().extension().string();
        for (char& c : ext)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        if (ext != extension)
            continue;
        const fs::path destination = general / entry.path().filename();
        // link + unlink never replaces an existing file, unlike rename.
        if (::link(entry.path().c_str(), destination.c_str()) != 0) {
            problems.push_back("cannot move " + entry.path().filename().string() + " into General");
            continue;
        }
        ::unlink(entry.path().c_str());
    }
}

} // namespace

fs::path TFirstStart::DefaultDataFolder()
{
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const fs::path installed = exe.parent_path().parent_path() / "share" / "pellix" / "data";
        if (fs::exists(installed / "FTypes.reg", ec))
            return installed;
    }
    return fs::path(PELLIX_SOURCE_DIR) / "data";
}

TFirstStartResult TFirstStart::Run(const fs::path& dataFolder)
{
    TFirstStartResult result;
    const fs::path program = m_app.ProgramFolder();
    std::error_code ec;
    if (m_app.StoredVersion() == kSettingsVersion && fs::is_directory(program / "Skins", ec))
        return result;
    result.ran = true;

    fs::create_directories(program, ec);
    CopyMissing(dataFolder, program, result.problems);
    // The default skin's folder marks an installed program folder; without it these steps would
    // run on every start and bring back file-type groups the user has deleted.
    fs::create_directories(program / "Skins" / "Default", ec);

    TRegFileImporter importer(m_app.Store());
    const TRegImportResult imported = importer.ImportFile(program / "FTypes.reg");
    result.fileTypesImported = imported.ok;
    if (!imported.ok)
        result.problems.push_back("file types not imported: " + imported.message);

    m_app.DownloadsFolder();

    const fs::path tasks = m_app.TasksFolder();
    MoveIntoGeneral(tasks, ".pxt", result.problems);
    MoveIntoGeneral(tasks, ".dwn", result.problems);

    // Last, so that a start killed half-way runs the steps again.
    m_app.SetStoredVersion(kSettingsVersion);
    return result;
}

} // namespace pellix
