#pragma once
// Writes the update database of a release: a zip of metadata.json and, per
// module, modules/<m>/common.json, arch_<arch>.json and lang_<lang>.json,
// each a list of [path, sha256, size] sorted by path. The archive carries no
// dates, so the same release always gives the same bytes.
#include <string>

#include "publish/release_content.h"
#include "publish/release_description.h"

namespace nx::publish {

// timestamp is the one the release is published with. writeUpdateDatabase
// throws PublishError naming the system's reason when the archive cannot be
// written whole (a full disk).
std::string generateMetadata(const ReleaseDescription& description, const std::string& timestamp);
// The file list of one module's list ("common", "arch_x", "lang_y"); empty
// text when no file belongs to it.
std::string generateFileList(const ReleaseContent& content, const std::string& module, const std::string& list);

void writeUpdateDatabase(const std::wstring& path, const ReleaseDescription& description, const std::string& timestamp,
                         const ReleaseContent& content);

}  // namespace nx::publish
