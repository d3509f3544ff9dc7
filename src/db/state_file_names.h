#pragma once
#include <string_view>

namespace nx {

// True for the files the installation's own bookkeeping owns, in any letter
// case: the base folder's state (autoupdate.db, autoupdate.cfg, Config/...,
// the applier's journal) and what the write folder holds (cache, lock,
// settings, logs). No product may ship one: the publisher refuses them and
// the applier never installs, replaces or removes one as a product file.
bool isStateFileName(std::string_view path);

}  // namespace nx
