#include "net/host_lookup.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "net/socket_messages.h"
#include "platform/text.h"

namespace quillon {

// What the worker and the component share; the pipe ends close with it.
struct HostLookup::Shared {
  std::mutex mutex;
  HostLookupResult result;
  int read_end = -1;
  int write_end = -1;

  ~Shared() {
    if (read_end >= 0) ::close(read_end);
    if (write_end >= 0) ::close(write_end);
  }
  void Deliver(const HostLookupResult& answer) {
    std::lock_guard lock(mutex);
    result = answer;
    const char signal = 1;
    // The pipe holds at most this one byte; a failure leaves the waiter to
    // its time-out, which is all that could be done anyway.
    [[maybe_unused]] ssize_t written = ::write(write_end, &signal, 1);
  }
};

namespace {

bool IsReservedInvalidName(const std::string& host) {
  const std::string lower = LowerCase(host);
  std::string_view name(lower);
  if (name.ends_with(".")) name.remove_suffix(1);
  return name == "invalid" || name.ends_with(".invalid");
}

}  // namespace

HostLookup::HostLookup(MessagePump& pump, const std::string& host,
                       Completion done)
    : pump_(pump), shared_(std::make_shared<Shared>()), done_(std::move(done)) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::system_error(errno, std::generic_category(), "pipe2");
  }
  shared_->read_end = ends[0];
  shared_->write_end = ends[1];
  watch_ = pump_.AddWatch(shared_->read_end, MessagePump::kReadable,
                          [this](unsigned) { OnAnswer(); });
  if (IsReservedInvalidName(host)) {
    HostLookupResult answer;
    answer.error = kWsaHostNotFound;
    shared_->Deliver(answer);
    return;
  }
  try {
    std::thread([shared = shared_, host] { shared->Deliver(Resolve(host)); })
        .detach();
  } catch (...) {
    pump_.RemoveWatch(watch_);
    throw;
  }
}

HostLookup::~HostLookup() {
  if (watch_ != 0) pump_.RemoveWatch(watch_);
}

void HostLookup::OnAnswer() {
  char signal;
  if (::read(shared_->read_end, &signal, 1) != 1) return;
  pump_.RemoveWatch(watch_);
  watch_ = 0;
  HostLookupResult answer;
  {
    std::lock_guard lock(shared_->mutex);
    answer = shared_->result;
  }
  // The completion may destroy this object: nothing of it is used after.
  Completion done = done_;
  done(answer);
}

HostLookupResult HostLookup::Resolve(const std::string& host) {
  HostLookupResult answer;
  if (IsReservedInvalidName(host)) {
    answer.error = kWsaHostNotFound;
    return answer;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int status = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (status != 0) {
    answer.error = WinsockErrorFromAddrInfo(status);
    return answer;
  }
  const addrinfo* chosen = found;
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET) {
      chosen = entry;
      break;
    }
  }
  if (chosen == nullptr || chosen->ai_addrlen > sizeof(answer.address)) {
    answer.error = kWsaNoData;
  } else {
    std::memcpy(&answer.address, chosen->ai_addr, chosen->ai_addrlen);
    answer.length = chosen->ai_addrlen;
  }
  ::freeaddrinfo(found);
  return answer;
}

bool HostLookup::ParseNumeric(const std::string& host, sockaddr_storage& address,
                              socklen_t& length) {
  address = sockaddr_storage{};
  in_addr v4{};
  if (::inet_aton(host.c_str(), &v4) != 0) {
    auto* out = reinterpret_cast<sockaddr_in*>(&address);
    out->sin_family = AF_INET;
    out->sin_addr = v4;
    length = sizeof(sockaddr_in);
    return true;
  }
  in6_addr v6{};
  if (::inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
    auto* out = reinterpret_cast<sockaddr_in6*>(&address);
    out->sin6_family = AF_INET6;
    out->sin6_addr = v6;
    length = sizeof(sockaddr_in6);
    return true;
  }
  return false;
}

}  // namespace quillon
