#include "mail/line_stream.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace quillon {

namespace {

// The first `part` in `text`. Candidates are found by their first byte
// (a delimiter's "-" does not occur in base64 lines, so the search runs
// through them at memchr's speed).
std::size_t Find(std::string_view text, std::string_view part) {
  if (part.empty() || part.size() > text.size()) return std::string_view::npos;
  const char* at = text.data();
  const char* last = text.data() + (text.size() - part.size());
  while (at <= last) {
    const void* candidate = std::memchr(at, part[0], static_cast<std::size_t>(last - at) + 1);
    if (candidate == nullptr) break;
    at = static_cast<const char*>(candidate);
    if (std::memcmp(at + 1, part.data() + 1, part.size() - 1) == 0) {
      return static_cast<std::size_t>(at - text.data());
    }
    ++at;
  }
  return std::string_view::npos;
}

}  // namespace

const std::string& TLineStream::EndMarker() {
  static const std::string marker(4, '\xFF');
  return marker;
}

void TLineStream::ReadFrom(std::unique_ptr<TStream> source) {
  source_ = std::move(source);
  Reset();
}

void TLineStream::Reset() {
  window_ = nullptr;
  next_ = 0;
  end_ = 0;
  line_feed_known_ = false;
  own_bytes_read_ = false;
  line_feed_pending_ = false;
  end_of_data_ = false;
  if (source_) source_->SetPosition(0);
  SetPosition(0);
}

bool TLineStream::Refill() {
  if (!source_) {
    // The written bytes are one window, read in place.
    if (own_bytes_read_) return false;
    own_bytes_read_ = true;
    window_ = Data().data();
    end_ = Data().size();
  } else {
    if (!block_) block_ = std::make_unique_for_overwrite<char[]>(kBlockSize);
    window_ = block_.get();
    end_ = source_->Read(block_.get(), kBlockSize);
  }
  next_ = 0;
  line_feed_known_ = false;
  if (line_feed_pending_ && end_ > 0) {
    line_feed_pending_ = false;
    if (window_[0] == '\n') next_ = 1;
  }
  return end_ > 0;
}

bool TLineStream::HasUnread() {
  while (next_ >= end_) {
    if (!Refill()) return false;
  }
  return true;
}

std::size_t TLineStream::LineEnd() {
  // The next LF is remembered, so that many lines ended by a bare CR do not
  // make every line search the rest of the window.
  if (!line_feed_known_ || line_feed_ < next_) {
    const void* found = std::memchr(window_ + next_, '\n', end_ - next_);
    line_feed_ = found == nullptr ? end_ : static_cast<const char*>(found) - window_;
    line_feed_known_ = true;
  }
  const void* carriage_return = std::memchr(window_ + next_, '\r', line_feed_ - next_);
  return carriage_return == nullptr ? line_feed_
                                    : static_cast<const char*>(carriage_return) - window_;
}

void TLineStream::SkipLineFeed() {
  if (next_ < end_) {
    if (window_[next_] == '\n') ++next_;
  } else {
    line_feed_pending_ = true;  // the LF, if any, opens the next window
  }
}

void TLineStream::NextLine(std::string& line) {
  std::string_view view;
  NextLineView(view);
  line.assign(view);
}

void TLineStream::NextLineView(std::string_view& line) {
  if (!HasUnread()) {
    line = EndMarker();
    end_of_data_ = true;
    return;
  }
  std::size_t end = LineEnd();
  if (end < end_) {
    line = std::string_view(window_ + next_, end - next_);
    next_ = end + 1;
    if (window_[end] == '\r') SkipLineFeed();
    return;
  }
  // The line goes on in the next window, or ends with the data.
  spanning_line_.assign(window_ + next_, end_ - next_);
  next_ = end_;
  while (Refill()) {
    end = LineEnd();
    spanning_line_.append(window_ + next_, end - next_);
    if (end < end_) {
      next_ = end + 1;
      if (window_[end] == '\r') SkipLineFeed();
      break;
    }
    next_ = end_;
  }
  line = spanning_line_;
}

std::int64_t TLineStream::BytesBefore(std::string_view marker) {
  HasUnread();
  const std::string_view unread = Unread();
  const std::size_t found = marker.empty() ? std::string_view::npos : Find(unread, marker);
  if (found != std::string_view::npos) return static_cast<std::int64_t>(found);
  const auto unread_size = static_cast<std::int64_t>(unread.size());
  if (!source_) return unread_size;
  if (marker.empty()) return unread_size + source_->Size() - source_->Position();
  // Looks on in the source, keeping the last bytes of each block in case the
  // marker spans two, then puts the source back where the lines left it.
  const std::int64_t resume = source_->Position();
  const std::size_t overlap = marker.size() - 1;
  auto scan = std::make_unique_for_overwrite<char[]>(overlap + kBlockSize);
  std::size_t kept = std::min(unread.size(), overlap);
  std::copy(unread.end() - kept, unread.end(), scan.get());
  auto counted = static_cast<std::int64_t>(unread.size() - kept);
  while (true) {
    const std::size_t got = source_->Read(scan.get() + kept, kBlockSize);
    const std::string_view text(scan.get(), kept + got);
    const std::size_t at = Find(text, marker);
    if (at != std::string_view::npos || got == 0) {
      counted += static_cast<std::int64_t>(at == std::string_view::npos ? text.size() : at);
      break;
    }
    const std::size_t next_kept = std::min(text.size(), overlap);
    counted += static_cast<std::int64_t>(text.size() - next_kept);
    std::copy(text.end() - next_kept, text.end(), scan.get());
    kept = next_kept;
  }
  source_->SetPosition(resume);
  return counted;
}

std::int64_t TLineStream::RawSize() const { return source_ ? source_->Size() : Size(); }

void TLineStream::CopyRawTo(TStream& target) {
  if (!source_) {
    target.Write(Data());
    return;
  }
  const std::int64_t resume = source_->Position();
  target.CopyFrom(*source_, 0);
  source_->SetPosition(resume);
}

}  // namespace quillon
