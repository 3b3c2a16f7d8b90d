#pragma once
// Where the meter object writes the device information lines: the window's
// memo, or a list that krvo prints.
#include <string>
#include <vector>

class CMemoLines {
 public:
  virtual ~CMemoLines() = default;
  virtual void Clear() = 0;
  virtual void Add(const std::string& line) = 0;
};

class CStringListMemo : public CMemoLines {
 public:
  void Clear() override { Lines.clear(); }
  void Add(const std::string& line) override { Lines.push_back(line); }
  std::vector<std::string> Lines;
};
