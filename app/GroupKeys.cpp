#include "app/GroupKeys.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>

#include "meter/IniFile.h"

namespace {

constexpr const char* kSection = "Keys";

std::string KeyIdsText(const TDataLogSetup& s) {
  std::string text;
  const int n = std::min<int>(s.KeyNum, kMaxKeys);
  for (int j = 0; j < n; ++j) {
    if (j > 0) text += ',';
    text += std::to_string(s.keyArr[j]);
  }
  return text;
}

bool SameKeys(const CIniFile& ini, const TDataLogSetup& setup) {
  return ini.ReadString(kSection, "KeyNum", "") == std::to_string(setup.KeyNum) &&
         ini.ReadString(kSection, "KeyIds", "") == KeyIdsText(setup);
}

std::string GroupFolder(const std::string& dataLogFolder, int group) {
  return dataLogFolder + "Group" + std::to_string(group + 1);
}

}  // namespace

std::string GroupKeysPath(const std::string& dataLogFolder, int group) {
  return GroupFolder(dataLogFolder, group) + ".keys";
}

bool SameGroupKeys(const std::string& dataLogFolder, int group, const TDataLogSetup& setup) {
  // Only a regular file is read (a FIFO in its place would hang the sync);
  // anything else reads as empty.
  const CIniFile ini(GroupKeysPath(dataLogFolder, group), TIniAccess::Lenient);
  if (ini.ReadString(kSection, "KeyNum", "").empty())
    return true;  // nothing known: taken as they are
  return SameKeys(ini, setup);
}

bool WriteGroupKeys(const std::string& dataLogFolder, int group, const TDataLogSetup& setup) {
  // Lenient: a file that is no regular one is replaced, not kept for ever.
  CIniFile ini(GroupKeysPath(dataLogFolder, group), TIniAccess::Lenient);
  if (SameKeys(ini, setup)) return true;
  ini.WriteInteger(kSection, "KeyNum", setup.KeyNum);
  ini.WriteString(kSection, "KeyIds", KeyIdsText(setup));
  try {
    ini.Save();
  } catch (const EIniWriteError&) {
    return false;
  }
  return true;
}

std::string MoveGroupAside(const std::string& dataLogFolder, int group) {
  const std::string from = GroupFolder(dataLogFolder, group);
  struct stat st {};
  if (lstat(from.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return "";
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M", &local);
  const std::string name = "Group" + std::to_string(group + 1) + "." + stamp;
  for (int k = 1; k < 100; ++k) {
    std::string to = name;
    if (k > 1) to.append("-").append(std::to_string(k));
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, (dataLogFolder + to).c_str(),
                  RENAME_NOREPLACE) == 0)
      return to;
  }
  return "";
}
