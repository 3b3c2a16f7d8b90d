#include "app/ParallelDeflate.h"

#include <zlib.h>

#include <algorithm>

namespace {

constexpr size_t kWindow = 32768;        // what deflate can refer back to
constexpr size_t kMaxPiece = 16u << 20;  // zlib counts in 32 bits; keep pieces well below

// in as raw deflate that goes on from dict; ends on a byte boundary, or with
// the stream's final block when last. zlib is fed at most kMaxPiece at a
// time, so that a piece made on a worker may be of any size.
bool Compress(const std::string& in, const std::string& dict, bool last, int level,
              std::string& out) {
  z_stream zs{};
  if (deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  bool ok = dict.empty() || deflateSetDictionary(&zs, reinterpret_cast<const Bytef*>(dict.data()),
                                                 static_cast<uInt>(dict.size())) == Z_OK;
  out.resize(deflateBound(&zs, static_cast<uLong>(std::min(in.size(), kMaxPiece))) + 64);
  size_t fed = 0, used = 0;
  while (ok) {
    if (zs.avail_in == 0 && fed < in.size()) {
      const size_t n = std::min(in.size() - fed, kMaxPiece);
      zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data() + fed));
      zs.avail_in = static_cast<uInt>(n);
      fed += n;
    }
    const bool all = fed == in.size();
    const int flush = !all ? Z_NO_FLUSH : last ? Z_FINISH : Z_SYNC_FLUSH;
    if (used == out.size()) out.resize(out.size() * 2);  // the bound was not enough: more room
    const uInt room = static_cast<uInt>(std::min(out.size() - used, kMaxPiece));
    zs.next_out = reinterpret_cast<Bytef*>(&out[used]);
    zs.avail_out = room;
    const int r = deflate(&zs, flush);
    used += room - zs.avail_out;
    if (r == Z_STREAM_END) break;
    if (r != Z_OK && r != Z_BUF_ERROR) ok = false;
    if (flush == Z_SYNC_FLUSH && zs.avail_in == 0 && zs.avail_out != 0) break;
  }
  deflateEnd(&zs);
  out.resize(used);
  return ok;
}

}  // namespace

struct CParallelDeflate::Job {
  std::function<void(std::string&)> Make;  // when set: makes In on the worker
  std::string In, Dict, Out;
  // The job before, until this one has its dictionary: the tail of its input.
  std::shared_ptr<Job> Before;
  std::string Tail;   // the last 32 KiB of the input up to this piece's end
  bool Made = false;  // In and Tail are there
  bool Last = false;
  bool Done = false;
  bool Ok = false;
  size_t InSize = 0;
  uint32_t Crc = 0;
};

CParallelDeflate::CParallelDeflate(std::FILE* out, int level, unsigned threads)
    : out_(out), level_(level) {
  unsigned n = threads != 0 ? threads : std::thread::hardware_concurrency();
  n = std::clamp(n, 1u, 32u);
  maxInFlight_ = 2 * n + 1;
  for (unsigned i = 0; i < n; ++i) workers_.emplace_back([this] { Work(); });
}

CParallelDeflate::~CParallelDeflate() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  work_.notify_all();
  made_.notify_all();
  for (std::thread& t : workers_) t.join();
}

void CParallelDeflate::Work() {
  for (;;) {
    std::shared_ptr<Job> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      work_.wait(lock, [this] { return stop_ || !pending_.empty(); });
      if (stop_) return;
      job = pending_.front();
      pending_.pop_front();
    }
    bool made = true;
    if (job->Make) {
      try {
        job->Make(job->In);
      } catch (...) {
        made = false;
      }
      job->Make = nullptr;
    }
    // Jobs are taken in order, so the one before is made or being made, and
    // it waits for nothing after it.
    {
      std::unique_lock<std::mutex> lock(mutex_);
      made_.wait(lock, [&] { return stop_ || !job->Before || job->Before->Made; });
      if (stop_) return;
    }
    if (job->Before) job->Dict = job->Before->Tail;
    job->Before.reset();
    if (job->In.size() >= kWindow) {
      job->Tail.assign(job->In, job->In.size() - kWindow, kWindow);
    } else {
      job->Tail = job->Dict + job->In;
      if (job->Tail.size() > kWindow) job->Tail.erase(0, job->Tail.size() - kWindow);
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      job->Made = true;
    }
    made_.notify_all();
    job->Ok = made && ((job->In.empty() && !job->Last) ||
                       Compress(job->In, job->Dict, job->Last, level_, job->Out));
    job->Crc = static_cast<uint32_t>(
        crc32_z(0, reinterpret_cast<const Bytef*>(job->In.data()), job->In.size()));
    job->InSize = job->In.size();
    std::string().swap(job->In);
    std::string().swap(job->Dict);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      job->Done = true;
    }
    done_.notify_all();
  }
}

bool CParallelDeflate::WriteDone(bool all) {
  for (;;) {
    std::shared_ptr<Job> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (queue_.empty()) return ok_;
      if (!queue_.front()->Done) {
        if (!all) return ok_;
        done_.wait(lock, [this] { return queue_.front()->Done; });
      }
      job = queue_.front();
      queue_.pop_front();
    }
    if (!job->Ok) ok_ = false;
    if (ok_ && !job->Out.empty() &&
        std::fwrite(job->Out.data(), 1, job->Out.size(), out_) != job->Out.size())
      ok_ = false;
    total_.Crc = static_cast<uint32_t>(
        crc32_combine(total_.Crc, job->Crc, static_cast<z_off_t>(job->InSize)));
    total_.Size += job->InSize;
    total_.CompressedSize += job->Out.size();
  }
}

bool CParallelDeflate::Submit(std::shared_ptr<Job> job) {
  for (;;) {
    if (!WriteDone(false)) return false;
    std::unique_lock<std::mutex> lock(mutex_);
    if (queue_.size() < maxInFlight_) {
      job->Before = std::move(last_);
      last_ = job;
      queue_.push_back(job);
      pending_.push_back(job);
      break;
    }
    done_.wait(lock, [this] { return queue_.front()->Done; });
  }
  work_.notify_one();
  return ok_;
}

bool CParallelDeflate::Add(std::string piece) {
  while (!piece.empty()) {
    auto job = std::make_shared<Job>();
    if (piece.size() > kMaxPiece) {
      job->In = piece.substr(0, kMaxPiece);
      piece.erase(0, kMaxPiece);
    } else {
      job->In = std::move(piece);
      piece.clear();
    }
    if (!Submit(std::move(job))) return false;
  }
  return ok_;
}

bool CParallelDeflate::Add(std::function<void(std::string&)> make) {
  auto job = std::make_shared<Job>();
  job->Make = std::move(make);
  return Submit(std::move(job));
}

bool CParallelDeflate::Finish(TDeflated& result) {
  auto job = std::make_shared<Job>();
  job->Last = true;
  const bool submitted = Submit(std::move(job));
  last_.reset();
  const bool written = WriteDone(true) && submitted;
  result = total_;
  return written && std::fflush(out_) == 0;
}
