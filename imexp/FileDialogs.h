#pragma once
// The library's own open and save dialogs: what they list, where they start,
// what a choice means and what they remember in "CONVERT.INI". The windows
// themselves are the user-interface host's.

#include <string>
#include <vector>

#include "ConverterRegistry.h"
#include "UiHost.h"

namespace formgate {

// Longest path the 8- and 16-bit dialog exports hand back, in characters,
// with its terminating NUL (the caller's buffer holds at least this many).
constexpr std::size_t kDialogPathCapacity = 260;

// The reader list of the open dialog: one entry per reader, in registry order,
// with video the entry "AVI Files (*.AVI)", then "All Graphic Files" with
// every reader's patterns each followed by ';'. readers receives the registry
// index of each listed reader.
std::vector<FileDialogFilter> OpenFilters(const ConverterRegistry& registry, std::vector<int>& readers,
                                          bool video = false);

// Which entry the open dialog starts on: the first reader whose patterns match
// path, else the reader named openFormat, else (openFormat empty) allEntry,
// else the first entry. readers as OpenFilters gives them.
int InitialOpenFilter(const ConverterRegistry& registry, const std::vector<int>& readers,
                      const std::string& path, const std::string& openFormat, int allEntry);

// The folder part of a path, with its '/' (what "OpenDir" and "SaveDir" keep).
std::string FolderOf(const std::string& path);

// The name a save dialog hands back: when the file name has no '.', the
// extension of the writer's first pattern (from its last '.' up to the first
// ';') is appended; a name with an extension, or ending in '.', stays as it is.
std::string SaveName(const std::string& path, const std::string& writerPatterns);

// The writers the save dialog offers for a pixel type, by registry index.
std::vector<int> SaveWriters(const ConverterRegistry& registry, int pixelType);

struct OpenDialogOptions {
    bool extraButtons = true;  // "&Info..." and "&Browse..."
    bool video = false;        // the "AVI Files" entry
    bool matchPath = true;     // start on the reader of the incoming name
    bool wide = false;         // the caller's buffer counts 16-bit characters
    bool limitPath = true;     // the caller's buffer holds kDialogPathCapacity characters
};

// The open dialog: 1 with the chosen path in path and "OpenDir" and
// "OpenFormat" stored, 2 when the user cancelled, 0 when it could not run
// (no reader: error 17 reported to owner; no user interface; a path too long
// for the caller: error 6).
int RunOpenDialog(void* owner, std::string& path, const OpenDialogOptions& options);

// The save dialog for a pixel type: 1 with the chosen path (its extension
// added, see SaveName) in path and "SaveDir" and "SaveFormat" stored, else 0
// (cancel; no writer: error 20 reported; not a pixel type: nothing reported).
int SelectFileToWrite(void* owner, int pixelType, std::string& path, bool wide);

}  // namespace formgate
