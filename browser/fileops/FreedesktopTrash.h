#pragma once
// Moving files to the desktop's trash in the freedesktop.org trash layout:
// the home trash ($XDG_DATA_HOME/Trash) for files on its file system, else
// the trash at the top of the file's own mount ($topdir/.Trash/$uid or
// $topdir/.Trash-$uid). The file moves by rename
// only, so it is either in the trash with its info record or untouched.

#include <string>

// 0 when the file or folder now lies in a trash, else an errno value saying
// why it could not go there; trashedPath receives its new place. Never
// deletes anything.
int MoveToTrash(const std::string& path, std::string* trashedPath = nullptr);

// Renames without ever replacing an existing target; 0 or an errno value.
int RenameNoReplace(const std::string& from, const std::string& to);
