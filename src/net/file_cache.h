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
// order. The archive is written beside path, flushed to the disk and renamed
// into place only when complete, so neither a failure (a full disk) nor a
// crash leaves anything but the previous cache or the new one. Throws
// IOError ("create" or "write" naming path). `level` is the deflate level: a
// lower one is several times faster for a slightly larger file.
void saveFileCache(const std::wstring& path, const Database& db, int level = 9);

// Applies the cache at path to the local fields of db's file table, row by
// complete row; rows for paths the table lacks are skipped, a later row for
// a path overrides an earlier one. Returns false, applying nothing, when
// the cache belongs to another version than db.version. Any other failure
// throws IOError "parse_cache" naming path; rows applied before it stay.
bool readFileCache(const std::wstring& path, Database& db);

}  // namespace nx
