#pragma once
// The file cache (autoupdate.cache in the write folder): for every installed
// file whose digest is known, the digest with the size and last-write time
// the file had then, so an unchanged file is never hashed twice. A zip of
//   cacheinfo.json   {"version": <database version the cache belongs to>}
//   filecache.json   [[path, local_hash, local_size, local_time], ...]
#include <string>

#include "db/database.h"

namespace nx {

// Writes the cache of every record with a known local_hash, in file-table
// order. The archive is written beside path and renamed into place only when
// complete, so a failure (a full disk) leaves the previous cache as it was.
// Throws IOError.
void saveFileCache(const std::wstring& path, const Database& db);

// Applies the cache at path to the local fields of db's file table; rows for
// paths the table lacks are skipped. Returns false, applying nothing, when
// the cache belongs to another version than db.version. Any other failure
// throws IOError "parse_cache" naming path; rows applied before it stay.
bool readFileCache(const std::wstring& path, Database& db);

}  // namespace nx
