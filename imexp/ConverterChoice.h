#pragma once
// Which converter reads a file and which writes a source under a name: by
// capability flags, subformat mask, extension patterns and, for readers that
// offer it, the converter's own look at the content.

#include <cstdint>

#include "ConverterRegistry.h"
#include "IOStream.h"

namespace formgate {

// True when the extension of path (from its last '.', which must lie after
// the last '/') matches one of the ';'-separated patterns as a whole. Each
// pattern starts at its first '.'; '?' matches one character, '*' the rest;
// letters compare without regard to case.
bool ExtensionMatches(const char* path, const char* patterns);

// The subformat bits a writer must share to take a source of that pixel type;
// 0 for a code that is no pixel type.
std::uint32_t WriterMask(int pixelType);
// The same for the save format lists, which also offer the 8-bit grey writers
// (0x4, 0x8) for pixel type 8.
std::uint32_t SaveListMask(int pixelType);

// The content check of converter index: false for an index outside the
// registry; true without a call for a converter without RDCheckFile (flag
// 0x10); else the converter is loaded for the check and asked, with the
// stream at its start. A converter that fails or throws rejects the file.
bool ContentCheckPasses(const ConverterRegistry& registry, int index, IOStream& stream);

// The reader of a file, or -1. preferred (-1 for none) wins when it reads and
// its content check passes; then the readers whose patterns match the name, in
// registry order, by their content check; when some matched by name and none
// took it, nobody does; else the first reader with a content check that takes it.
int ChooseReader(const ConverterRegistry& registry, const char* path, IOStream& stream, int preferred);

// The first writer (flag 2) that shares a bit of mask and whose patterns match
// path, or -1.
int ChooseWriter(const ConverterRegistry& registry, std::uint32_t mask, const char* path);

}  // namespace formgate
