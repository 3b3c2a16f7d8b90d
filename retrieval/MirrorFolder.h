#pragma once
// The local mirror of the meter's log folders: clearing a folder of it,
// pruning what the meter no longer has, and making sure a folder we write
// into is a real one.
#include <set>
#include <string>

// Deletes everything in the folder, recursively, then the folder itself;
// failures to delete are ignored. A symbolic link is removed, never
// followed, and nothing outside the base folder is touched: a path that does
// not lie below it is left alone (false).
bool ClearFolder(const std::string& path);

// Deletes every entry of the folder whose name is not in keep (folders with
// all they hold), by the same rules as ClearFolder. False when the path does
// not lie below the base folder or can't be opened as a folder.
bool PruneFolder(const std::string& path, const std::set<std::string>& keep);

// Makes path a real folder below the base folder: a symbolic link or a file
// in its place is removed (never followed), then the folder is made. False
// when that fails.
bool MakeRealFolder(const std::string& path);
