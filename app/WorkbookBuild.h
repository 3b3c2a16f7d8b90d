#pragma once
// A working workbook rebuilt from nothing: written beside the one in use and
// put in its place only when every sheet is in it, so that a rebuild that
// fails or is stopped half-way keeps the previous workbook whole.
#include <string>

#include "app/Xlsx.h"

class CWorkbookBuild {
 public:
  explicit CWorkbookBuild(std::string target);

  CXlsxBuild& Xlsx() { return xlsx_; }
  const std::string& Target() const { return xlsx_.Target(); }
  // Puts the built workbook in place; false when it can't be (nothing was
  // built, or the rename failed: the previous workbook then stays).
  bool Commit() { return xlsx_.Commit(); }
  // Drops what was built (also done by the destructor without a commit).
  void Discard() { xlsx_.Discard(); }

 private:
  static std::string Prepared(std::string target);
  CXlsxBuild xlsx_;
};
