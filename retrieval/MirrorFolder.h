#pragma once
// The local mirror of the meter's log folders: clearing a folder of it.
#include <string>

// Deletes everything in the folder, recursively, then the folder itself;
// failures to delete are ignored. A symbolic link is removed, never
// followed, and nothing outside the base folder is touched: a path that does
// not lie below it is left alone (false).
bool ClearFolder(const std::string& path);
