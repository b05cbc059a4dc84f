#include "quorvel_client/CClientOutput.h"

namespace quorvel::client {

void CClientOutput::Line(std::string_view text)
{
    Write(messages_, {}, text);
}

void CClientOutput::Error(std::string_view text)
{
    Write(errors_, "error: ", text);
}

void CClientOutput::Notice(std::string_view text)
{
    Write(errors_, {}, text);
}

void CClientOutput::Write(std::ostream& stream, std::string_view prefix, std::string_view text)
{
    std::lock_guard lock(mutex_);
    stream << prefix << text << '\n';
    stream.flush();
}

} // namespace quorvel::client
