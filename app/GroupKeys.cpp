#include "app/GroupKeys.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>

#include "meter/DataFolder.h"
#include "meter/FileReplace.h"

namespace {

// 64 key ids of at most 5 digits and the lines around them take under 500 bytes.
constexpr size_t kMaxKeysFileBytes = 4096;

std::string KeysText(const TDataLogSetup& s) {
  std::string text = "[Keys]\nKeyNum=" + std::to_string(s.KeyNum) + "\nKeyIds=";
  const int n = std::min<int>(s.KeyNum, kMaxKeys);
  for (int j = 0; j < n; ++j) text += (j ? "," : "") + std::to_string(s.keyArr[j]);
  return text + "\n";
}

std::string GroupFolder(const std::string& dataLogFolder, int group) {
  return dataLogFolder + "Group" + std::to_string(group + 1);
}

}  // namespace

std::string GroupKeysPath(const std::string& dataLogFolder, int group) {
  return GroupFolder(dataLogFolder, group) + ".keys";
}

bool SameGroupKeys(const std::string& dataLogFolder, int group, const TDataLogSetup& setup) {
  // Only a regular file of ours is read: a FIFO in its place would hang the sync.
  std::string text;
  if (!ReadRegularFile(GroupKeysPath(dataLogFolder, group), kMaxKeysFileBytes, text))
    return true;  // nothing known: the files are taken as they are
  return text == KeysText(setup);
}

bool WriteGroupKeys(const std::string& dataLogFolder, int group, const TDataLogSetup& setup) {
  const std::string path = GroupKeysPath(dataLogFolder, group);
  std::string known;
  if (ReadRegularFile(path, kMaxKeysFileBytes, known) && known == KeysText(setup)) return true;
  std::string temp;
  try {
    temp = CreateTempBeside(path);
  } catch (const std::exception&) {
    return false;
  }
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  const std::string text = KeysText(setup);
  const bool written = f != nullptr && std::fwrite(text.data(), 1, text.size(), f) == text.size();
  const bool closed = f != nullptr && std::fclose(f) == 0;
  if (!written || !closed) {
    std::remove(temp.c_str());
    return false;
  }
  return CommitTemp(temp, path);
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
    const std::string to = name + (k == 1 ? "" : "-" + std::to_string(k));
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, (dataLogFolder + to).c_str(),
                  RENAME_NOREPLACE) == 0)
      return to;
  }
  return "";
}
