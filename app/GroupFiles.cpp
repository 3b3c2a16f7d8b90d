#include "app/GroupFiles.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <utility>

#include "meter/DataFolder.h"
#include "meter/TextCodec.h"

namespace {

bool ExtensionMatches(const std::string& name, const std::string& extension) {
  if (extension == ".*") return true;
  const size_t dot = name.rfind('.');
  return dot != std::string::npos && name.size() - dot == extension.size() &&
         strcasecmp(name.c_str() + dot, extension.c_str()) == 0;
}

struct TEntry {
  std::string Name;
  unsigned char Type;  // as readdir gives it: DT_UNKNOWN where the file system keeps none
};

// False when the pump says the application is closing.
bool Walk(const std::string& folder, const std::string& extension, std::vector<std::string>& files,
          const PumpHook& pump) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return true;
  std::vector<TEntry> entries;
  while (const dirent* e = readdir(dir)) entries.push_back({e->d_name, e->d_type});
  closedir(dir);
  std::sort(entries.begin(), entries.end(),
            [](const TEntry& a, const TEntry& b) { return a.Name < b.Name; });
  for (const TEntry& e : entries) {
    if (pump && pump()) return false;
    if (e.Name == "." || e.Name == ".." || e.Name == ".svn") continue;
    // The entry's type comes with its name: a folder of day files costs no
    // call per file, only links and file systems without types are asked.
    unsigned char type = e.Type;
    std::string path = folder + e.Name;
    if (type == DT_UNKNOWN) {
      struct stat st {};
      if (lstat(path.c_str(), &st) != 0) continue;
      type = S_ISDIR(st.st_mode)   ? DT_DIR
             : S_ISREG(st.st_mode) ? DT_REG
             : S_ISLNK(st.st_mode) ? DT_LNK
                                   : DT_UNKNOWN;
    }
    if (type == DT_DIR) {
      if (!Walk(path + "/", extension, files, pump)) return false;
    } else if (ExtensionMatches(e.Name, extension) &&
               (type == DT_REG || (type == DT_LNK && FileExists(path)))) {
      // Only regular files (or links to one): a FIFO or a device would hang
      // the read or never end it.
      files.push_back(std::move(path));
    }
  }
  return true;
}

}  // namespace

void FindFiles(const std::string& folder, const std::string& extension,
               std::vector<std::string>& files, const PumpHook& pump) {
  const std::string root = WithSeparator(Trim(folder));
  if (!FolderExists(root)) {
    files.clear();
    return;
  }
  Walk(root, extension, files, pump);
}
