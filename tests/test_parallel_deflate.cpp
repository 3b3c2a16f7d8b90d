// The pieces compressed on worker threads join as one raw deflate stream
// that zlib's own inflate reads back to the very bytes, with the CRC zlib
// computes, whatever the piece sizes and the number of threads.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "app/ParallelDeflate.h"
#include "tests/support/Files.h"
#include "tests/support/Process.h"

namespace {

std::string Inflate(const std::string& raw) {
  z_stream zs{};
  EXPECT_EQ(inflateInit2(&zs, -15), Z_OK);
  std::string out;
  char buf[1 << 16];
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
  zs.avail_in = static_cast<uInt>(raw.size());
  int r = Z_OK;
  while (r == Z_OK) {
    zs.next_out = reinterpret_cast<Bytef*>(buf);
    zs.avail_out = sizeof buf;
    r = inflate(&zs, Z_NO_FLUSH);
    out.append(buf, sizeof buf - zs.avail_out);
    if (r == Z_BUF_ERROR && zs.avail_in == 0) break;
  }
  EXPECT_EQ(r, Z_STREAM_END) << "the stream must end with its final block";
  EXPECT_EQ(zs.avail_in, 0u) << "nothing may follow the final block";
  inflateEnd(&zs);
  return out;
}

}  // namespace

TEST(ParallelDeflate, PiecesJoinIntoOneStreamOfTheSameBytes) {
  TempDir dir;
  std::mt19937 rng(11);
  // Sheet-like text that refers back across pieces, noise that does not
  // compress, and pieces of every awkward size, one above the split size.
  std::vector<std::string> pieces = {"", "x", std::string(32767, 'a'), std::string(32768, 'b')};
  std::string row;
  for (int i = 0; i < 4000; ++i)
    row += "<c r=\"B" + std::to_string(i) + "\"><v>" + std::to_string(i * 7) + "</v></c>";
  for (size_t len : {100000u, 1u << 20, 3u, 700000u}) pieces.push_back(row.substr(0, len));
  std::string noise(300000, '\0');
  for (char& c : noise) c = static_cast<char>(rng());
  pieces.push_back(noise);
  std::string big;
  while (big.size() < (17u << 20)) big += row;
  pieces.push_back(big);

  std::string whole;
  for (const std::string& p : pieces) whole += p;
  const auto crc = static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(whole.data()), static_cast<uInt>(whole.size())));

  for (unsigned threads : {1u, 3u}) {
    const std::string path = dir.Path() + "/stream" + std::to_string(threads);
    std::FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    TDeflated d;
    {
      CParallelDeflate deflate(out, 1, threads);
      for (const std::string& p : pieces) ASSERT_TRUE(deflate.Add(p));
      ASSERT_TRUE(deflate.Finish(d));
    }
    ASSERT_EQ(std::fclose(out), 0);
    const std::string raw = ReadAll(path);
    EXPECT_EQ(d.Size, whole.size()) << threads;
    EXPECT_EQ(d.Crc, crc) << threads;
    EXPECT_EQ(d.CompressedSize, raw.size()) << threads;
    EXPECT_LT(raw.size(), whole.size() / 4) << "pieces must use what came before them";
    EXPECT_TRUE(Inflate(raw) == whole) << threads;
  }

  // No input at all is still a whole stream; a full disk is a failure.
  const std::string empty = dir.Path() + "/empty";
  std::FILE* out = std::fopen(empty.c_str(), "wb");
  TDeflated d;
  {
    CParallelDeflate deflate(out, 1);
    ASSERT_TRUE(deflate.Finish(d));
  }
  std::fclose(out);
  EXPECT_EQ(Inflate(ReadAll(empty)), "");
  EXPECT_EQ(d.Size, 0u);
  std::FILE* full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  {
    CParallelDeflate deflate(full, 1, 2);
    bool ok = true;
    for (int i = 0; i < 8 && ok; ++i) ok = deflate.Add(noise);
    EXPECT_FALSE(ok && deflate.Finish(d));
  }
  std::fclose(full);
}

TEST(ParallelDeflate, PiecesMadeOnTheWorkersGoOutInTheOrderAdded) {
  TempDir dir;
  // Made pieces between given ones, each the start of the same noise: they
  // compress only with the input before them as their dictionary.
  std::mt19937 rng(5);
  std::string noise(20000, '\0');
  for (char& c : noise) c = static_cast<char>(rng());
  std::string whole;
  const std::string path = dir.Path() + "/made";
  std::FILE* out = std::fopen(path.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  TDeflated d;
  {
    CParallelDeflate deflate(out, 1, 3);
    for (int i = 0; i < 12; ++i) {
      const std::string piece = noise.substr(0, noise.size() - static_cast<size_t>(i) * 1000);
      whole += piece;
      ASSERT_TRUE(deflate.Add([piece](std::string& in) { in = piece; }));
      if (i % 3 == 0) {
        whole += "given";
        ASSERT_TRUE(deflate.Add(std::string("given")));
      }
    }
    ASSERT_TRUE(deflate.Add([](std::string&) {}));  // an empty one
    ASSERT_TRUE(deflate.Finish(d));
  }
  ASSERT_EQ(std::fclose(out), 0);
  const std::string raw = ReadAll(path);
  EXPECT_EQ(d.Size, whole.size());
  EXPECT_EQ(d.Crc, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(whole.data()),
                                               static_cast<uInt>(whole.size()))));
  EXPECT_EQ(d.CompressedSize, raw.size());
  EXPECT_LT(raw.size(), whole.size() / 4) << "made pieces must use what came before them";
  EXPECT_TRUE(Inflate(raw) == whole);
}
