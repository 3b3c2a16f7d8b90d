#pragma once
// Profile (INI) files with the semantics of the Windows profile functions:
// section and key names match without regard to case; a written key replaces
// its value in place, a missing key goes to the end of its section and a
// missing section to the end of the file; every other line stays as it was.
// Changes collect in memory and Save() replaces the file atomically, once.
#include <sys/types.h>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

// "Unable to write to %s" with the file's path; Errno is the system's reason
// (0 when it gave none), kept apart so that the window's text stays as it is.
class EIniWriteError : public std::runtime_error {
 public:
  explicit EIniWriteError(const std::string& what, int err = 0)
      : std::runtime_error(what), Errno(err) {}
  int Errno;
};

// A file that exists but cannot be taken as a profile file: unreadable, not
// a regular file, too large, or a symbolic link where none may be.
class EIniReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// How a file that is there but unfit is met. Only regular files are ever read.
enum class TIniAccess {
  Lenient,  // read as empty (settings fall back to their defaults)
  Read,     // EIniReadError naming the path
  Update,   // as Read, and a symbolic link is refused rather than read or replaced
};

class CIniFile {
 public:
  // A real setup file is about 50 KB; anything near this is not one.
  static constexpr off_t kMaxBytes = 1024 * 1024;

  // Reads the file; a missing file reads as empty, an unfit one as access says.
  explicit CIniFile(std::string path, TIniAccess access = TIniAccess::Lenient);

  const std::string& Path() const { return path_; }
  bool Exists() const { return exists_; }

  // The value of key in section, or fallback when either is missing.
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& fallback) const;
  // Decimal, or hexadecimal with a 0x prefix; anything else gives fallback.
  long long ReadInteger(const std::string& section, const std::string& key,
                        long long fallback) const;

  // Sets a value in memory; CR and LF inside it become blanks so that a
  // value can never add lines.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, long long value);

  // True when a write changed the text since it was read or saved.
  bool Modified() const { return modified_; }
  // Writes the whole file through a temporary file beside it and a rename
  // (FileReplace.h), keeping the mode of the file it replaces. Temporary
  // files that earlier saves of this file left behind (killed meanwhile) are
  // removed first. Throws EIniWriteError when the file cannot be written.
  void Save();

 private:
  enum class Kind { Other, Section, Key };
  struct Line {
    std::string raw;  // as read (or as written by us), without line end
    Kind kind = Kind::Other;
    std::string name;  // section or key name, lower case, for matching
  };
  static Line Parse(std::string raw);
  void Load(TIniAccess access);
  void BuildIndex() const;
  void RemoveStaleTemporaries() const;
  // Index of the section's header line, or -1.
  int FindSection(const std::string& section) const;
  // Index of the key's line within the section starting at header, or -1.
  int FindKey(int header, const std::string& key) const;
  // One past the last line that belongs to the section (its last non-blank line + 1).
  int SectionEnd(int header) const;

  std::string path_;
  std::vector<Line> lines_;
  std::string eol_ = "\n";
  bool exists_ = false;
  bool modified_ = false;
  mode_t mode_ = 0;  // of the file read or last saved
  // First header of each section, and first line of each key in it, so that
  // lookups cost the same in a file of any length. Rebuilt after an insert.
  mutable bool indexed_ = false;
  mutable std::unordered_map<std::string, int> sections_;
  mutable std::unordered_map<std::string, int> keys_;  // header index, '\n', key
};

// Parses a profile integer: optional sign, decimal digits or 0x and hex digits,
// surrounding blanks allowed. False for anything else.
bool ParseProfileInteger(const std::string& text, long long& value);
