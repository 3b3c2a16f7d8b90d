#pragma once
// One raw deflate stream made on every core: the input comes in pieces, each
// piece is compressed on a worker thread with the 32 KiB before it as its
// dictionary and ends on a byte boundary (a sync flush), and the pieces are
// written to the file in order, so that they join as one stream any inflater
// reads. A piece may also be made on the worker, from what the caller
// recorded, so that making the input uses every core too. At most a few
// pieces are in flight: memory stays flat whatever the size of the whole.
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct TDeflated {
  uint32_t Crc = 0;             // CRC-32 of the input
  uint64_t Size = 0;            // input bytes
  uint64_t CompressedSize = 0;  // bytes written
};

class CParallelDeflate {
 public:
  // Writes to out, which stays the caller's. threads 0: one per core.
  CParallelDeflate(std::FILE* out, int level, unsigned threads = 0);
  // Stops the workers; a stream not finished is left incomplete.
  ~CParallelDeflate();
  CParallelDeflate(const CParallelDeflate&) = delete;
  CParallelDeflate& operator=(const CParallelDeflate&) = delete;

  // Queues the next piece (empty pieces are ignored); waits while the queue is full.
  // False once a piece failed or a write failed.
  bool Add(std::string piece);
  // Queues a piece that make writes, on a worker thread, into the empty
  // string it is given; it still goes out in the order added. make must
  // stand on its own (it may run after the caller's next Add).
  bool Add(std::function<void(std::string&)> make);
  // Ends the stream and waits for every piece; false on any failure.
  bool Finish(TDeflated& result);

 private:
  struct Job;
  void Work();
  bool Submit(std::shared_ptr<Job> job);
  bool WriteDone(bool all);

  std::FILE* out_;
  int level_;
  std::mutex mutex_;
  std::condition_variable work_, done_, made_;
  std::deque<std::shared_ptr<Job>> queue_;    // in input order, written from the front
  std::deque<std::shared_ptr<Job>> pending_;  // not yet taken by a worker
  std::vector<std::thread> workers_;
  std::shared_ptr<Job> last_;  // queued last: the next piece's dictionary is its tail
  size_t maxInFlight_;
  bool stop_ = false;
  bool ok_ = true;
  TDeflated total_;
};
