// TTempFolder: a fresh folder under the system temp folder, removed with everything in it.
#pragma once

#include <filesystem>

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

} // namespace pellix::test
