#pragma once
// Replacing a file so that it is, at every moment, either its old or its new complete
// text, even across a crash or a power cut: the text goes to "<path>~" in the same folder,
// is flushed to the disk, renamed over the path, and the folder is flushed too. Used for the
// table and record files and for the boot-time network files. Stateless and thread-safe for
// different paths; writers of one path order themselves.

#include <string>

namespace SafeFile {

// The temporary file of a path: the path followed by "~".
std::string temporaryPath(const std::string& path);
// Writes the whole text to path (create or truncate) and forces it to the disk. false on any
// failure, with errno set; opened tells whether the file could be opened at all.
bool writeAndSync(const std::string& path, const std::string& text, bool& opened);
// Renames the written temporary over the path and flushes the folder. Throws Exception
// "Impossible to rename <temporary>: <why>"; the old file is then kept.
void commit(const std::string& temporary, const std::string& path);
// writeAndSync to the temporary, then commit. Throws Exception "Impossible to write
// <temporary>: <why>" (the temporary is removed) or commit's text; the old file is kept.
void replace(const std::string& path, const std::string& text);

}  // namespace SafeFile
