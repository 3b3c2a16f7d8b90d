#pragma once
// The base folder that holds CommSet.ini and the device folders, and the
// mapping of untrusted names (from the meter, from listings) to one safe
// path component inside it.
#include <stdexcept>
#include <string>

// There is no folder for the data: no KRVO_DATA_DIR, XDG_DATA_HOME or HOME,
// and the account has no home in the password database.
class ENoDataFolder : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// $KRVO_DATA_DIR, else the executable's folder for a portable copy (a
// CommSet.ini beside the executable, a writable folder outside /usr), else
// $XDG_DATA_HOME/KRVOLogViewer, with HOME (or the account's home in the
// password database) + "/.local/share" for XDG_DATA_HOME (made on first
// use). Ends with "/". Throws ENoDataFolder when there is no home at all.
std::string BaseFolder();

// One path component: "/", "\\", "..", control characters (C0 and C1) and the characters
// Windows forbids in names become "_"; a name without them is unchanged.
std::string SafePathComponent(const std::string& name);

// base + safe device name + "/DataLog/": the device's data log folder.
std::string DeviceDataLogFolder(const std::string& deviceName);

// Makes every missing folder of path, one level at a time; an existing folder
// is no error. Returns false when a level cannot be made.
bool ForceFolders(const std::string& path);

bool FileExists(const std::string& path);
// Reads at most maxBytes of path into text when path is a regular file:
// never through a symbolic link, never waiting on a FIFO or a device that
// stands in a file's place. False when it is missing, no regular file, or
// can't be read.
bool ReadRegularFile(const std::string& path, size_t maxBytes, std::string& text);
bool FolderExists(const std::string& path);
// path with one "/" at its end.
std::string WithSeparator(const std::string& path);
