#include "app/WorkbookBuild.h"

#include <unistd.h>

#include "meter/DataFolder.h"
#include "meter/FileReplace.h"

CWorkbookBuild::CWorkbookBuild(std::string target) : target_(std::move(target)) {
  // A name of the temporary kind, so that a killed run's build counts as its
  // leftover; the workbook writer wants no file there yet.
  RemoveStaleTempsIn(FolderOf(target_));  // a killed build's parts, its own beside it included
  path_ = CreateTempBeside(target_);
  ::unlink(path_.c_str());
}

CWorkbookBuild::~CWorkbookBuild() { Discard(); }

bool CWorkbookBuild::Commit() {
  if (done_ || !FileExists(path_)) return false;
  done_ = true;
  return CommitTemp(path_, target_);
}

void CWorkbookBuild::Discard() {
  if (done_) return;
  done_ = true;
  ::unlink(path_.c_str());
}
