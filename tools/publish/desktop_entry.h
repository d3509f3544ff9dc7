#pragma once
// A desktop launcher for an installation made by the image command: a
// .desktop file whose Exec starts the installation's own updater with
// "check", which updates when an update is due and then starts the product,
// as a player's desktop icon should.
#include <string>

namespace nx::publish {

// The launcher's text for the installation in target (an absolute path)
// whose updater is updaterPath (relative to it, with "/"). Throws
// PublishError for a path a desktop entry cannot hold (a line break).
std::string desktopEntryText(const std::wstring& target, const std::string& updaterPath);

// Writes the launcher of the installation in target to file: the updater is
// the second entry of its database's "apply" list. Throws PublishError when
// there is none, IOError when the file cannot be written.
void writeDesktopEntry(const std::wstring& target, const std::wstring& file);

}  // namespace nx::publish
