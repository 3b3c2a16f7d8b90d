#include "retrieval/FtpReplyReader.h"

#include <strings.h>

#include <cctype>

#include "retrieval/FtpErrors.h"

namespace {

std::string TrimBlanks(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

}  // namespace

std::string TFtpReply::JoinedText() const {
  std::string out;
  for (size_t i = 0; i < Text.size(); ++i) {
    if (i != 0) out += '\n';
    out += Text[i];
  }
  return out;
}

int ReplyCodeOf(const std::string& line) {
  if (line.size() < 3) return 0;
  int code = 0;
  for (int i = 0; i < 3; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(line[static_cast<size_t>(i)]))) return 0;
    code = code * 10 + (line[static_cast<size_t>(i)] - '0');
  }
  return code;
}

void CFtpReplyReader::Feed(const char* data, size_t n) {
  buffer_.append(data, n);
  // A line without its end may not outgrow the limit while we wait for it.
  const size_t lastLf = buffer_.rfind('\n');
  const size_t partial = lastLf == std::string::npos ? buffer_.size() : buffer_.size() - lastLf - 1;
  if (partial > kMaxLineLength + 1) throw EFtpLimitError("Max line length exceeded.");
}

void CFtpReplyReader::Reset() {
  buffer_.clear();
  inReply_ = false;
  reply_ = TFtpReply{};
  replyBytes_ = 0;
}

std::optional<std::string> CFtpReplyReader::NextLine() {
  const size_t lf = buffer_.find('\n');
  if (lf == std::string::npos) return std::nullopt;
  std::string line = buffer_.substr(0, lf);
  buffer_.erase(0, lf + 1);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.size() > kMaxLineLength) throw EFtpLimitError("Max line length exceeded.");
  return TrimBlanks(line);
}

std::optional<TFtpReply> CFtpReplyReader::NextReply() {
  while (auto line = NextLine()) {
    if (line->empty()) continue;
    if (!inReply_) {
      reply_ = TFtpReply{};
      reply_.Code = ReplyCodeOf(*line);
      reply_.Text.push_back(line->size() > 4 ? line->substr(4) : "");
      if (line->size() < 4 || (*line)[3] != '-') return std::move(reply_);
      inReply_ = true;
      prefix_ = line->substr(0, 3) + " ";
      replyBytes_ = line->size();
      continue;
    }
    if (reply_.Text.size() >= kMaxReplyLines) {
      Reset();
      throw EFtpLimitError("Reply exceeds " + std::to_string(kMaxReplyLines) + " lines.");
    }
    replyBytes_ += line->size();
    if (replyBytes_ > kMaxReplyBytes) {
      Reset();
      throw EFtpLimitError("Reply exceeds " + std::to_string(kMaxReplyBytes) + " bytes.");
    }
    reply_.Text.push_back(line->size() > 4 ? line->substr(4) : "");
    // The reply ends at "code " (any letter case) or a line too short to continue it.
    if (line->size() < 4 || strncasecmp(line->c_str(), prefix_.c_str(), 4) == 0) {
      inReply_ = false;
      return std::move(reply_);
    }
  }
  return std::nullopt;
}
