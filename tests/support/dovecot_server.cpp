#include "tests/support/dovecot_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace quillon::test {

namespace {

namespace fs = std::filesystem;

constexpr char kDovecot[] = "/usr/sbin/dovecot";
constexpr char kDoveadm[] = "/usr/bin/doveadm";
constexpr uid_t kMailUid = 8;  // Debian's "mail" user and group
constexpr gid_t kMailGid = 8;
constexpr auto kStartLimit = std::chrono::seconds(20);
constexpr auto kPollStep = std::chrono::milliseconds(20);

// A port that was free a moment ago (Dovecot binds it right after).
int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("no free loopback port");
  }
  ::close(fd);
  return ntohs(address.sin_port);
}

bool Accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool ok =
      ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  ::close(fd);
  return ok;
}

// Runs a program with stdout and stderr into `output_path`; returns its
// exit status (-1 when it could not run).
int RunProgram(const std::vector<std::string>& argv, const std::string& output_path) {
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    const int out = ::open(output_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    const int in = ::open("/dev/null", O_RDONLY);
    if (out < 0 || in < 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path);
}

void ChownToMail(const std::string& path) {
  if (::chown(path.c_str(), kMailUid, kMailGid) != 0) {
    throw std::runtime_error("cannot give " + path + " to the mail user");
  }
}

// True while `pid` is a live process; a zombie waiting for init to reap it
// has stopped already.
bool IsRunning(pid_t pid) {
  if (::kill(pid, 0) != 0) return false;
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t close = stat.rfind(')');
  return close == std::string::npos || close + 2 >= stat.size() ||
         stat[close + 2] != 'Z';
}

template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(kPollStep);
  }
  return true;
}

}  // namespace

bool DovecotServer::Available() {
  return ::geteuid() == 0 && ::access(kDovecot, X_OK) == 0 &&
         ::access(kDoveadm, X_OK) == 0;
}

DovecotServer::DovecotServer(std::vector<User> users, std::optional<Tls> tls)
    : tls_(std::move(tls)) {
  std::string pattern = (fs::temp_directory_path() / "quillon-dovecot-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a directory for Dovecot");
  }
  root_ = pattern;
  // The mail user must reach the Maildirs below.
  fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read |
                             fs::perms::group_exec | fs::perms::others_read |
                             fs::perms::others_exec);
  fs::create_directories(root_ + "/run");
  fs::create_directories(root_ + "/state");
  fs::create_directories(root_ + "/mail");
  ChownToMail(root_ + "/mail");
  std::vector<int> taken;
  const auto distinct_port = [&taken] {
    int port = FreeLoopbackPort();
    while (std::find(taken.begin(), taken.end(), port) != taken.end()) port = FreeLoopbackPort();
    taken.push_back(port);
    return port;
  };
  pop3_port_ = distinct_port();
  imap_port_ = distinct_port();
  if (tls_) {
    pop3s_port_ = distinct_port();
    imaps_port_ = distinct_port();
  }
  WriteConfiguration(users);
  for (const User& user : users) PrepareMaildir(user.name);
  try {
    Start();
  } catch (...) {
    Stop();
    std::error_code ignored;
    fs::remove_all(root_, ignored);
    throw;
  }
}

DovecotServer::~DovecotServer() {
  Stop();
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

std::string DovecotServer::Pop3Address() const {
  return "127.0.0.1:" + std::to_string(pop3_port_);
}

std::string DovecotServer::ImapAddress() const {
  return "127.0.0.1:" + std::to_string(imap_port_);
}

std::string DovecotServer::Pop3sAddress() const {
  return pop3s_port_ == 0 ? "" : "127.0.0.1:" + std::to_string(pop3s_port_);
}

std::string DovecotServer::ImapsAddress() const {
  return imaps_port_ == 0 ? "" : "127.0.0.1:" + std::to_string(imaps_port_);
}

std::vector<int> DovecotServer::ListeningPorts() const {
  std::vector<int> ports{pop3_port_, imap_port_};
  if (tls_) {
    ports.push_back(pop3s_port_);
    ports.push_back(imaps_port_);
  }
  return ports;
}

std::string DovecotServer::TlsConfiguration() const {
  if (!tls_) return "ssl = no\n";
  return "ssl = required\nssl_cert = <" + tls_->certificate_file + "\nssl_key = <" +
         tls_->key_file + "\nverbose_ssl = yes\n";
}

std::string DovecotServer::MaildirPath(const std::string& user) const {
  return root_ + "/mail/" + user + "/Maildir";
}

std::string DovecotServer::LogText() const { return ReadFile(root_ + "/dovecot.log"); }

void DovecotServer::WriteConfiguration(const std::vector<User>& users) {
  std::string passwd;
  for (const User& user : users) passwd += user.name + ":" + user.password + "\n";
  WriteFile(root_ + "/users", passwd);
  std::ostringstream config;
  config << "base_dir = " << root_ << "/run\n"
         << "state_dir = " << root_ << "/state\n"
         << "log_path = " << root_ << "/dovecot.log\n"
         << "listen = 127.0.0.1\n"
         << "protocols = pop3 imap\n"
         << "default_internal_user = root\n"
         << "default_login_user = dovenull\n"
         << "first_valid_uid = 1\n"
         << "mail_uid = " << kMailUid << "\nmail_gid = " << kMailGid << "\n"
         << TlsConfiguration()
         << "disable_plaintext_auth = no\n"
         << "auth_mechanisms = plain login\n"
         // No login delay after a failed password, no statistics process
         // (its handshake would hold every shutdown for seconds).
         << "auth_failure_delay = 0\n"
         << "stats_writer_socket_path =\n"
         << "mail_location = maildir:" << root_ << "/mail/%u/Maildir\n"
         << "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN " << root_
         << "/users\n}\n"
         << "userdb {\n  driver = static\n  args = uid=" << kMailUid
         << " gid=" << kMailGid << " home=" << root_ << "/mail/%u\n}\n"
         << "service pop3-login {\n  inet_listener pop3 {\n    port = " << pop3_port_
         << "\n  }\n  inet_listener pop3s {\n    port = " << pop3s_port_ << "\n  }\n}\n"
         << "service imap-login {\n  inet_listener imap {\n    port = " << imap_port_
         << "\n  }\n  inet_listener imaps {\n    port = " << imaps_port_ << "\n  }\n}\n"
         << "service anvil {\n  unix_listener anvil-auth-penalty {\n"
         << "    mode = 0\n  }\n}\n";
  WriteFile(ConfigPath(), config.str());
}

void DovecotServer::PrepareMaildir(const std::string& user) const {
  const std::string home = root_ + "/mail/" + user;
  for (const std::string& path :
       {home, home + "/Maildir", home + "/Maildir/new", home + "/Maildir/cur",
        home + "/Maildir/tmp"}) {
    fs::create_directories(path);
    ChownToMail(path);
  }
}

void DovecotServer::Start() {
  // Dovecot forks into the background; its output goes to a file so that
  // it does not hold the caller's pipes open.
  const int status = RunProgram({kDovecot, "-c", ConfigPath()}, root_ + "/start.log");
  if (status != 0) {
    throw std::runtime_error("dovecot did not start: " + ReadFile(root_ + "/start.log") +
                             LogText());
  }
  const std::string pid_file = root_ + "/run/master.pid";
  const bool up = WaitUntil(
      [&] {
        const std::string pid = ReadFile(pid_file);
        master_pid_ = pid.empty() ? -1 : static_cast<pid_t>(std::atoi(pid.c_str()));
        if (master_pid_ <= 0) return false;
        for (const int port : ListeningPorts()) {
          if (!Accepts(port)) return false;
        }
        return true;
      },
      std::chrono::duration_cast<std::chrono::seconds>(kStartLimit));
  if (!up) throw std::runtime_error("dovecot is not listening: " + LogText());
}

void DovecotServer::Stop() {
  if (master_pid_ <= 0) return;
  ::kill(master_pid_, SIGTERM);
  const pid_t pid = master_pid_;
  WaitUntil([pid] { return !IsRunning(pid); }, std::chrono::seconds(10));
  master_pid_ = -1;
}

std::string DovecotServer::Deliver(const std::string& user,
                                   const std::string& raw_message) {
  ++delivered_;
  // Increasing names keep the delivery order on the server.
  char name[64];
  std::snprintf(name, sizeof(name), "%010d.M%06dP%d.quillon", 1000000000 + delivered_,
                delivered_, static_cast<int>(::getpid()));
  const std::string maildir = MaildirPath(user);
  const std::string draft = maildir + "/tmp/" + name;
  const std::string final_path = maildir + "/new/" + name;
  WriteFile(draft, raw_message);
  ChownToMail(draft);
  fs::rename(draft, final_path);
  return final_path;
}

int DovecotServer::CountMessages(const std::string& user) const {
  const std::string output = root_ + "/doveadm.out";
  std::error_code ignored;
  fs::remove(output, ignored);
  const int status = RunProgram({kDoveadm, "-c", ConfigPath(), "mailbox", "status",
                                 "-u", user, "messages", "INBOX"},
                                output);
  const std::string text = ReadFile(output);
  const std::size_t at = text.find("messages=");
  if (status != 0 || at == std::string::npos) {
    throw std::runtime_error("doveadm mailbox status failed: " + text);
  }
  return std::atoi(text.c_str() + at + 9);
}

}  // namespace quillon::test
