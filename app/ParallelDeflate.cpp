#include "app/ParallelDeflate.h"

#include <zlib.h>

#include <algorithm>

namespace {

constexpr size_t kWindow = 32768;        // what deflate can refer back to
constexpr size_t kMaxPiece = 16u << 20;  // zlib counts in 32 bits; keep pieces well below

// piece as raw deflate that goes on from dict; ends on a byte boundary, or
// with the stream's final block when last.
bool Compress(const std::string& in, const std::string& dict, bool last, int level,
              std::string& out) {
  z_stream zs{};
  if (deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  bool ok = dict.empty() || deflateSetDictionary(&zs, reinterpret_cast<const Bytef*>(dict.data()),
                                                 static_cast<uInt>(dict.size())) == Z_OK;
  out.resize(deflateBound(&zs, static_cast<uLong>(in.size())) + 64);
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  zs.avail_in = static_cast<uInt>(in.size());
  size_t used = 0;
  while (ok) {
    zs.next_out = reinterpret_cast<Bytef*>(&out[used]);
    zs.avail_out = static_cast<uInt>(out.size() - used);
    const int r = deflate(&zs, last ? Z_FINISH : Z_SYNC_FLUSH);
    used = out.size() - zs.avail_out;
    if (r == Z_STREAM_END || (!last && r == Z_OK && zs.avail_out != 0)) break;
    if (r != Z_OK && r != Z_BUF_ERROR) ok = false;
    out.resize(out.size() * 2);  // the bound was not enough: go on in more room
  }
  deflateEnd(&zs);
  out.resize(used);
  return ok;
}

}  // namespace

struct CParallelDeflate::Job {
  std::string In, Dict, Out;
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
    job->Ok = Compress(job->In, job->Dict, job->Last, level_, job->Out);
    job->Crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(job->In.data()),
                                           static_cast<uInt>(job->In.size())));
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

bool CParallelDeflate::Submit(std::string piece, bool last) {
  auto job = std::make_shared<Job>();
  job->Dict = tail_;
  job->Last = last;
  if (piece.size() >= kWindow) {
    tail_.assign(piece, piece.size() - kWindow, kWindow);
  } else {
    tail_ += piece;
    if (tail_.size() > kWindow) tail_.erase(0, tail_.size() - kWindow);
  }
  job->In = std::move(piece);
  for (;;) {
    if (!WriteDone(false)) return false;
    std::unique_lock<std::mutex> lock(mutex_);
    if (queue_.size() < maxInFlight_) {
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
  while (piece.size() > kMaxPiece) {
    if (!Submit(piece.substr(0, kMaxPiece), false)) return false;
    piece.erase(0, kMaxPiece);
  }
  return piece.empty() ? ok_ : Submit(std::move(piece), false);
}

bool CParallelDeflate::Finish(TDeflated& result) {
  const bool submitted = Submit({}, true);
  const bool written = WriteDone(true) && submitted;
  result = total_;
  return written && std::fflush(out_) == 0;
}
