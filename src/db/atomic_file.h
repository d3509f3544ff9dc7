#pragma once
// Replacing a state file so that it is never left half written: the content
// goes to a new file beside it (path + a unique suffix + ".tmp", created
// exclusively, never through a link, with the previous file's permissions),
// is flushed to the disk, and is renamed over path only when complete. On any
// failure the temporary file is removed and the previous file at path stays
// as it was.
#include <string>
#include <string_view>

namespace nx {

// Throws IOError "create" (the file cannot be created or put in place) or
// "write" (writing or flushing failed; a short write carries the disk-full
// number). Messages name path, not the temporary file.
void writeFileAtomically(const std::wstring& path, std::string_view content);

}  // namespace nx
