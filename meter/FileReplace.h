#pragma once
// Files replaced atomically: written under a temporary name beside the
// target and renamed over it, so that a crash or kill leaves the old file or
// the new one, never half a file. Temporary names carry the writer's process
// id, so a later writer can tell a dead writer's leftovers from a live one's.
#include <string>

// A new, empty, unique file beside target (".NAME.~krvo-PID-XXXXXX"),
// created with mode 0644; throws std::runtime_error when it can't be made.
std::string CreateTempBeside(const std::string& target);

// Removes the temporary files beside target left by processes that no
// longer run.
void RemoveStaleTemps(const std::string& target);
// The same for every temporary file of ours in a folder.
void RemoveStaleTempsIn(const std::string& folder);

// Flushes temp to disk and renames it to target; with noReplace an existing
// target is not replaced and the call fails. On failure temp is removed.
bool CommitTemp(const std::string& temp, const std::string& target, bool noReplace = false);

// CommitTemp without flushing target's folder, for a writer that puts many
// files into one folder and flushes it once with SyncFolder when done: each
// file is whole, old or new, at once; its name is on disk after the flush.
bool CommitTempNoFolderSync(const std::string& temp, const std::string& target);
// Flushes a folder's entries (renames, removals) to disk.
bool SyncFolder(const std::string& folder);

// Copies source into a temporary file beside target and commits it.
bool CopyFileReplacing(const std::string& source, const std::string& target, bool noReplace);

// The folder part of a path, with its "/" ("" for a bare name).
std::string FolderOf(const std::string& path);
