#include "tests/support/temp_folder.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace pellix::test {

TTempFolder::TTempFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "pellix-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temp folder");
    m_path = pattern;
}

TTempFolder::~TTempFolder()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

void WriteText(const std::filesystem::path& path, const std::string& text)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

} // namespace pellix::test
