#pragma once
// The face of the user interface's font, for captions and in-place editors.

class QString;

QString GetDefaultGuiFontName();
