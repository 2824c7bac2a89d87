// Text, file-name and folder helpers shared by every subsystem.
#include "links/text_helpers.h"

namespace pellix {

std::string FileNameNoExt(std::string_view path) { return std::string(path); }
std::string UniqueFileName(const std::string& path) { return path; }
std::string ReplaceIllegalChars(std::string_view text, char) { return std::string(text); }
std::string ToBackslashes(std::string_view text) { return std::string(text); }
std::string ToSlashes(std::string_view text) { return std::string(text); }
std::string ElapsedText(TDateTime) { return {}; }
std::string TextBetween(std::string_view, std::string_view, std::string_view) { return {}; }
std::string TextAfter(std::string_view, std::string_view, std::string_view) { return {}; }
std::string CleanText(std::string_view text) { return std::string(text); }
std::string FieldOf(std::string_view, char, int) { return {}; }
std::string ReplaceText(std::string_view text, std::string_view, std::string_view, bool)
{
    return std::string(text);
}
std::size_t FindText(std::string_view, std::string_view, std::size_t) { return 0; }
bool ContainsText(std::string_view, std::string_view) { return false; }
std::int64_t NumberOf(std::string_view) { return 0; }
std::vector<std::string> FilesIn(const std::string&, std::string_view) { return {}; }
std::vector<std::string> SubfoldersOf(const std::string&) { return {}; }

} // namespace pellix
