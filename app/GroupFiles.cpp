#include "app/GroupFiles.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>

#include "meter/DataFolder.h"
#include "meter/TextCodec.h"

namespace {

bool ExtensionMatches(const std::string& name, const std::string& extension) {
  if (extension == ".*") return true;
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string ext = name.substr(dot);
  return ext.size() == extension.size() && strcasecmp(ext.c_str(), extension.c_str()) == 0;
}

// False when the pump says the application is closing.
bool Walk(const std::string& folder, const std::string& extension, std::vector<std::string>& files,
          const PumpHook& pump) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return true;
  std::vector<std::string> names;
  while (const dirent* e = readdir(dir)) names.emplace_back(e->d_name);
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (pump && pump()) return false;
    if (name == "." || name == ".." || name == ".svn") continue;
    const std::string path = folder + name;
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      if (!Walk(path + "/", extension, files, pump)) return false;
    } else if (ExtensionMatches(name, extension) && FileExists(path)) {
      // Only regular files (or links to one): a FIFO or a device would hang
      // the read or never end it.
      files.push_back(path);
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
