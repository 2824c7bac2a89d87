#include "engine/memory_body_sink.h"

namespace pellix {

bool TMemoryBodySink::Start(std::int64_t keep, std::string& error)
{
    if (keep < 0 || keep > Size()) {
        error = "Cannot resume: the body held is shorter than the range";
        return false;
    }
    m_data.resize(static_cast<std::size_t>(keep));
    return true;
}

bool TMemoryBodySink::Write(std::string_view data, std::string&)
{
    m_data.append(data);
    return true;
}

bool TMemoryBodySink::Finish(std::string&)
{
    return true;
}

} // namespace pellix
