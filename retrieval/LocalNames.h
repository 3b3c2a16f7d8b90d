#pragma once
// The local names of a group's remote files. A remote name that is safe as
// it is keeps its name; one that had to be changed (unsafe characters, too
// long) gets a suffix made from the whole remote name, so that two remote
// names can never land on one local file, and a name maps the same way on
// every run.
#include <string>
#include <unordered_map>
#include <vector>

// The local name of one remote name; empty when it can't be stored.
std::string LocalLogName(const std::string& remoteName);

// The local names of a listing's names, unique within the group: a name
// whose local name another name took already maps to "" (a failed file).
std::unordered_map<std::string, std::string> LocalLogNames(
    const std::vector<std::string>& remoteNames);

// Where the bytes of a failed fetch are kept for the run that made them: a
// name that no load or sync reads as a log. Empty when it would be too long.
std::string PartialName(const std::string& localName);
