#pragma once
// Whole-file reads and writes for the tests.
#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Bytes of one .dat record: values little-endian, then the six time bytes
// (year - 2000, month, day, hour, minute, second).
inline std::vector<uint8_t> DatRecord(const std::vector<int32_t>& raw,
                                      std::array<uint8_t, 6> time) {
  std::vector<uint8_t> out;
  for (int32_t v : raw) {
    const auto u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(u >> (8 * i)));
  }
  out.insert(out.end(), time.begin(), time.end());
  return out;
}

inline void AppendAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::app)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// The names in a folder, sorted; none when it is not there.
inline std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  if (std::filesystem::exists(folder))
    for (const auto& e : std::filesystem::directory_iterator(folder))
      names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}
