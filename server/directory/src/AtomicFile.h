#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace quorvel::directory {

// Replaces the file at `path` with `bytes` so that a reader sees the old
// file or the new one, never a mix: the bytes go to "<path>.new" in the same
// folder (created with `mode`, or truncated and set to `mode`), are flushed
// to disk, and the temporary file is renamed over `path`. When any step
// fails the temporary file is removed, `path` is left as it was, `error`
// tells which step failed and why, and the result is false.
// Any thread; two callers must not replace the same path at once.
bool ReplaceFileAtomically(const std::string& path, std::string_view bytes, mode_t mode,
                           std::string& error);

} // namespace quorvel::directory
