#pragma once
// A working workbook rebuilt from nothing: written beside the one in use and
// renamed over it only when every sheet is in it, so that a rebuild that
// fails or is stopped half-way keeps the previous workbook whole.
#include <string>

class CWorkbookBuild {
 public:
  explicit CWorkbookBuild(std::string target);
  ~CWorkbookBuild();
  CWorkbookBuild(const CWorkbookBuild&) = delete;
  CWorkbookBuild& operator=(const CWorkbookBuild&) = delete;

  // Where the sheets go while it is built (a temporary name beside target).
  const std::string& Path() const { return path_; }
  const std::string& Target() const { return target_; }
  // Puts the built workbook in place; false when it can't be (nothing was
  // built, or the rename failed: the previous workbook then stays).
  bool Commit();
  // Drops what was built (also done by the destructor without a commit).
  void Discard();

 private:
  std::string target_;
  std::string path_;
  bool done_ = false;
};
