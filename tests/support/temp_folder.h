// TTempFolder: a fresh folder under the system temp folder, removed with everything in it; and
// the writing of a test file in it.
#pragma once

#include <filesystem>
#include <string>

namespace pellix::test {

class TTempFolder final {
public:
    TTempFolder();
    ~TTempFolder();
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    // The folder as the core's folder text: with a trailing "/".
    std::string Text() const { return m_path.string() + "/"; }

private:
    std::filesystem::path m_path;
};

// Writes text as the whole file at path, making its folders.
void WriteText(const std::filesystem::path& path, const std::string& text);

} // namespace pellix::test
