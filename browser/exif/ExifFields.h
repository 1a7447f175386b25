#pragma once
// The EXIF fields of a JPEG or TIFF file as display texts: a walker visits
// every entry of the first, EXIF and GPS directories, a collector keeps the
// requested fields, and CExifTagReader/CExifTagFormat make their texts.
//
// A file that cannot be opened, and a short read of a header or entry,
// raise CFileException; ReadExifFields lets it pass to its caller.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "CExifTagFormat.h"
#include "CExifTagReader.h"
#include "CFileReader.h"
#include "ExifEntry.h"

struct ExifField {
    uint32_t tag;
    uint32_t stringId;  // the caption's string number
};

// The 27 fields in display order.
const std::vector<ExifField>& ExifFieldTable();

// Called with the file at bounds.base; returns false to end the walk.
using ExifCallback = std::function<bool(CFileReader& file, const ExifEntry& entry, const ExifBounds& bounds)>;

// An empty request is filled with the table's 27 string numbers. texts gets
// one entry per requested field the table knows, in request order. format
// and reader may be null for the plain ones. Returns the entries matched.
int ReadExifFields(const std::string& path, std::vector<uint32_t>& request, std::vector<std::string>& texts,
                   CExifTagFormat* format = nullptr, CExifTagReader* reader = nullptr);

void WalkExifEntries(CFileReader& file, const ExifCallback& callback);

// 2 for JPEG (FF D8), 1 for TIFF ("II" or "MM"), 0 otherwise; the position is kept.
int DetectImageKind(CFileReader& file);
// The EXIF APP1 length field's position, scanning from the current position; 0 when absent.
uint64_t FindExifSegmentIn(CFileReader& file);
// The EXIF directory's offset named by a TIFF's first directory, or 0; sets the byte order.
uint32_t FindExifDirectory(CFileReader& file);

// The ASCII values of the given tags from the first and EXIF directories of
// a JPEG or TIFF (a TIFF need not have an EXIF directory here). Never throws:
// a damaged file gives what was read before the damage.
std::map<uint16_t, std::string> ReadExifAsciiTags(const std::string& path, const std::vector<uint16_t>& tags);
