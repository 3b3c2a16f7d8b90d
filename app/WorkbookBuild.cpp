#include "app/WorkbookBuild.h"

#include "meter/DataFolder.h"
#include "meter/DisplayFormat.h"
#include "meter/FileReplace.h"

namespace {

// Sheet 1 for the names and one sheet for each of the ten groups.
constexpr size_t kFixedSheets = 11;

}  // namespace

std::string CWorkbookBuild::Prepared(std::string target) {
  RemoveStaleTempsIn(FolderOf(target));  // a killed build's parts, its own beside it included
  return target;
}

CWorkbookBuild::CWorkbookBuild(std::string target)
    : xlsx_(Prepared(std::move(target)),
            FormatSettings().ShortDateFormat + " " + FormatSettings().LongTimeFormat,
            kFixedSheets) {}
