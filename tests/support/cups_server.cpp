#include "tests/support/cups_server.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/tool_run.h"

namespace quillon::test {
namespace fs = std::filesystem;
namespace {

constexpr char kCupsd[] = "/usr/sbin/cupsd";
constexpr char kPdfBackend[] = "/usr/lib/cups/backend/cups-pdf";
constexpr char kPdfPpd[] = "/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd";
constexpr auto kStartLimit = std::chrono::seconds(20);
constexpr auto kStopLimit = std::chrono::seconds(10);
constexpr auto kPollStep = std::chrono::milliseconds(50);
constexpr char kLockFile[] = "/tmp/quillon-cups-server.lock";
// Below the test programs' own time limit.
constexpr auto kLockLimit = std::chrono::seconds(240);

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream out(path);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

// A directory the scheduler's unprivileged processes (group lp) write to.
void MakeLpDirectory(const fs::path& path) {
  fs::create_directories(path);
  const group* lp = ::getgrnam("lp");
  if (lp == nullptr || ::chown(path.c_str(), 0, lp->gr_gid) != 0) {
    throw std::runtime_error("cannot give " + path.string() + " to group lp");
  }
  fs::permissions(path, fs::perms::owner_all | fs::perms::group_all);
}

template <typename Condition>
bool WaitFor(Condition condition, std::chrono::steady_clock::duration limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(kPollStep);
  }
  return true;
}

}  // namespace

std::string CupsServer::UnavailableReason() {
  if (::geteuid() != 0) return "a private cupsd needs root (it drops to lp)";
  for (const char* file : {kCupsd, kPdfBackend, kPdfPpd}) {
    if (!fs::exists(file)) {
      return std::string(file) +
             " is missing (cups-daemon, printer-driver-cups-pdf)";
    }
  }
  if (::getgrnam("lp") == nullptr || ::getpwnam("lp") == nullptr) {
    return "there is no user and group lp for cupsd";
  }
  if (RunShell("command -v lpadmin && command -v lpstat").exit_code != 0) {
    return "lpadmin and lpstat are missing (cups-client)";
  }
  return {};
}

CupsServer::ServerLock::ServerLock() {
  fd_ = ::open(kLockFile, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) throw std::runtime_error(std::string("cannot open ") + kLockFile);
  const bool locked =
      WaitFor([this] { return ::flock(fd_, LOCK_EX | LOCK_NB) == 0; }, kLockLimit);
  if (!locked) {
    ::close(fd_);
    throw std::runtime_error("another private cupsd kept running too long");
  }
}

CupsServer::ServerLock::~ServerLock() {
  ::flock(fd_, LOCK_UN);
  ::close(fd_);
}

CupsServer::CupsServer() {
  char pattern[] = "/tmp/quillon-cups-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  try {
    WriteConfiguration();
    Start();
  } catch (...) {
    Stop();
    fs::remove_all(root_);
    throw;
  }
}

CupsServer::~CupsServer() {
  Stop();
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void CupsServer::WriteConfiguration() {
  fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read |
                             fs::perms::group_exec | fs::perms::others_read |
                             fs::perms::others_exec);
  for (const char* directory : {"spool", "spool/tmp", "cache", "state"}) {
    MakeLpDirectory(fs::path(root_) / directory);
  }
  fs::create_directories(fs::path(root_) / "log");
  fs::create_directories(fs::path(root_) / "ppd");
  WriteFile(fs::path(root_) / "cupsd.conf",
            "Listen " + SocketPath() +
                "\n"
                "LogLevel info\n"
                "Browsing Off\n"
                "DefaultAuthType None\n"
                "WebInterface No\n"
                "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                "<Location /admin>\n  Order allow,deny\n  Allow all\n"
                "</Location>\n"
                "<Policy default>\n"
                "  <Limit All>\n    Order allow,deny\n    Allow all\n"
                "  </Limit>\n</Policy>\n");
  WriteFile(fs::path(root_) / "cups-files.conf",
            "ServerRoot " + root_ + "\nRequestRoot " + root_ +
                "/spool\nTempDir " + root_ + "/spool/tmp\nCacheDir " + root_ +
                "/cache\nStateDir " + root_ + "/state\nErrorLog " + root_ +
                "/log/error_log\nAccessLog " + root_ +
                "/log/access_log\nPageLog " + root_ +
                "/log/page_log\nUser lp\nGroup lp\nSystemGroup root\n");
}

void CupsServer::Start() {
  const std::string output = root_ + "/log/cupsd.out";
  const std::string conf = root_ + "/cupsd.conf";
  const std::string files = root_ + "/cups-files.conf";
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      ::dup2(fd, 1);
      ::dup2(fd, 2);
      ::close(fd);
    }
    ::execl(kCupsd, kCupsd, "-f", "-c", conf.c_str(), "-s", files.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const bool answering = WaitFor(
      [this] {
        int exit_code = -1;
        const std::string status = RunClient("lpstat -r", exit_code);
        int child_status = 0;
        if (::waitpid(pid_, &child_status, WNOHANG) == pid_) {
          pid_ = -1;
          throw std::runtime_error("cupsd ended at start:\n" + LogText());
        }
        return exit_code == 0 &&
               status.find("scheduler is running") != std::string::npos;
      },
      kStartLimit);
  if (!answering) throw std::runtime_error("cupsd does not answer:\n" + LogText());
}

void CupsServer::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  const bool ended = WaitFor(
      [this] {
        int status = 0;
        return ::waitpid(pid_, &status, WNOHANG) == pid_;
      },
      kStopLimit);
  if (!ended) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  pid_ = -1;
}

std::string CupsServer::RunClient(const std::string& command,
                                  int& exit_code) const {
  const ToolRun run = RunShell("CUPS_SERVER=" + Quoted(SocketPath()) + " " +
                                   command,
                               ToolStderr::kMerged);
  exit_code = run.exit_code;
  return run.output;
}

// The PDF reaches cups-pdf as PostScript; rendered by pdftocairo, the text
// of what Qt printed stays readable for pdftotext (Ghostscript turns it into
// glyphs without their characters).
void CupsServer::AddPdfPrinter(const std::string& name) {
  int exit_code = -1;
  const std::string output =
      RunClient("lpadmin -p " + Quoted(name) + " -v cups-pdf:/ -P " +
                    Quoted(kPdfPpd) +
                    " -o pdftops-renderer-default=pdftocairo -E",
                exit_code);
  if (exit_code != 0) {
    throw std::runtime_error("lpadmin could not add " + name + ": " + output);
  }
}

void CupsServer::SetDefaultPrinter(const std::string& name) {
  int exit_code = -1;
  const std::string output = RunClient("lpadmin -d " + Quoted(name), exit_code);
  if (exit_code != 0) {
    throw std::runtime_error("lpadmin could not make " + name +
                             " the default: " + output);
  }
}

void CupsServer::RejectJobs(const std::string& name) {
  int exit_code = -1;
  const std::string output = RunClient("cupsreject " + Quoted(name), exit_code);
  if (exit_code != 0) {
    throw std::runtime_error("cupsreject failed for " + name + ": " + output);
  }
}

std::vector<std::string> CupsServer::Jobs() const {
  int exit_code = -1;
  std::istringstream lines(RunClient("lpstat -W all -o", exit_code));
  std::vector<std::string> jobs;
  std::string line;
  while (std::getline(lines, line)) {
    const std::string id = line.substr(0, line.find(' '));
    if (!id.empty()) jobs.push_back(id);
  }
  return jobs;
}

bool CupsServer::WaitUntilIdle(std::chrono::seconds limit) const {
  return WaitFor(
      [this] {
        int exit_code = -1;
        const std::string pending = RunClient("lpstat -o", exit_code);
        return exit_code == 0 && pending.empty();
      },
      limit);
}

fs::path CupsServer::PdfDirectory() {
  const passwd* user = ::getpwuid(::geteuid());
  return fs::path(user != nullptr ? user->pw_dir : "/root") / "PDF";
}

std::vector<fs::path> CupsServer::PdfsSince(fs::file_time_type since) {
  std::vector<fs::path> files;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(PdfDirectory(), error)) {
    std::error_code time_error;
    const auto written = fs::last_write_time(entry.path(), time_error);
    if (!time_error && written >= since && entry.path().extension() == ".pdf") {
      files.push_back(entry.path());
    }
  }
  return files;
}

fs::path CupsServer::WaitForPdf(
    fs::file_time_type since, std::chrono::seconds limit,
    const std::function<bool(const fs::path&)>& wanted) const {
  fs::path found;
  WaitFor(
      [&] {
        int exit_code = -1;
        if (!RunClient("lpstat -o", exit_code).empty() || exit_code != 0) {
          return false;
        }
        for (const fs::path& file : PdfsSince(since)) {
          if (wanted(file)) {
            found = file;
            return true;
          }
        }
        return false;
      },
      limit);
  return found;
}

std::string CupsServer::LogText() const {
  std::string text;
  for (const char* log : {"/log/cupsd.out", "/log/error_log"}) {
    std::ifstream in(root_ + log);
    std::stringstream content;
    content << in.rdbuf();
    const std::string all = content.str();
    text += all.size() > 4000 ? all.substr(all.size() - 4000) : all;
  }
  return text;
}

}  // namespace quillon::test
