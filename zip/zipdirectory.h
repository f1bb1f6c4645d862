// Reads the central directory of an existing archive into entry records, refusing anything malformed.
#pragma once

#include <cstdint>
#include <string>

#include "zip/bufferedstream.h"
#include "zip/sortedzip.h"
#include "zip/ziprecords.h"

// Reads the directory of the archive in stream into entries (an owning list keyed ByNone,
// emptied first) and end. An empty file is an archive without entries. Raises EIncompleteZip
// for anything the writer cannot carry over safely: no end record, several disks, central
// headers or entry data outside their places, overlapping entries, names that are empty,
// absolute, hold a zero byte or a ".." part, 64-bit records that point outside the file, disagree
// with the end record or are shorter than the values they must hold; EListError "Duplicate Object
// index" for two entries of the same name. Reads nothing outside the file and allocates no more
// than the file holds.
// With allowParentParts, names whose only fault is a ".." part are read too, for a job that removes them.
void ReadZipDirectory(TStream& stream, bool oemConvert, TSortedZip& entries, TEndCentral& end,
                      bool allowParentParts = false);

// Whether a stored name has a ".." part ("../x", "a/../b", "a\\.."), which would be extracted outside its folder.
bool HasParentPart(const std::string& name);
