#include "tests/support/smtp_sink.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace quillon::test {

namespace {

namespace fs = std::filesystem;

constexpr char kPython[] = "/usr/bin/python3";
constexpr auto kPollStep = std::chrono::milliseconds(20);

std::string ScriptPath() {
  return std::string(QUILLON_SOURCE_DIR) + "/tests/support/smtp_sink.py";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

bool SmtpSink::Available() {
  if (::access(kPython, X_OK) != 0) return false;
  const std::string check = std::string(kPython) +
                            " -c 'import aiosmtpd' >/dev/null 2>&1";
  return std::system(check.c_str()) == 0;
}

SmtpSink::SmtpSink(std::optional<Tls> tls, bool pipelining) {
  std::string pattern = (fs::temp_directory_path() / "quillon-smtp-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a directory for the SMTP sink");
  }
  directory_ = pattern;
  const std::string log = directory_ + "/sink.log";
  std::vector<std::string> argv{kPython, ScriptPath()};
  if (pipelining) argv.push_back("--pipelining");
  argv.push_back(directory_);
  if (tls) {
    argv.insert(argv.end(), {tls->mode, tls->certificate_file, tls->key_file});
  }
  std::vector<char*> args;
  for (std::string& word : argv) args.push_back(word.data());
  args.push_back(nullptr);
  child_ = ::fork();
  if (child_ < 0) throw std::runtime_error("cannot start the SMTP sink");
  if (child_ == 0) {
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    const int in = ::open("/dev/null", O_RDONLY);
    if (out < 0 || in < 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    ::execv(kPython, args.data());
    ::_exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while ((port_ = std::atoi(ReadFile(directory_ + "/port").c_str())) == 0) {
    int status = 0;
    if (::waitpid(child_, &status, WNOHANG) == child_ ||
        std::chrono::steady_clock::now() > deadline) {
      const std::string output = ReadFile(log);
      child_ = -1;
      throw std::runtime_error("SMTP sink did not start: " + output);
    }
    std::this_thread::sleep_for(kPollStep);
  }
}

SmtpSink::~SmtpSink() {
  if (child_ > 0) {
    ::kill(child_, SIGTERM);
    int status = 0;
    while (::waitpid(child_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  std::error_code ignored;
  fs::remove_all(directory_, ignored);
}

std::string SmtpSink::Address() const { return "127.0.0.1:" + std::to_string(port_); }

std::vector<SmtpSink::Message> SmtpSink::Messages() const {
  std::vector<Message> messages;
  for (int number = 1;; ++number) {
    const std::string base = directory_ + "/msg_" + std::to_string(number);
    // The envelope file is written last: its presence means complete.
    if (!fs::exists(base + ".env")) break;
    Message message;
    std::istringstream envelope(ReadFile(base + ".env"));
    std::getline(envelope, message.mail_from);
    for (std::string line; std::getline(envelope, line);) {
      message.recipients.push_back(line);
    }
    message.data = ReadFile(base + ".eml");
    if (fs::exists(base + ".tls")) message.tls_version = ReadFile(base + ".tls");
    messages.push_back(std::move(message));
  }
  return messages;
}

std::vector<SmtpSink::Message> SmtpSink::WaitForMessages(
    std::size_t count, std::chrono::seconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::vector<Message> messages = Messages();
  while (messages.size() < count && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kPollStep);
    messages = Messages();
  }
  return messages;
}

}  // namespace quillon::test
