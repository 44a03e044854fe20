// A private CUPS scheduler for print tests: cupsd with its own
// configuration, spool, cache, state and logs in a temporary directory,
// reached through its own local socket (clients find it by CUPS_SERVER),
// with cups-pdf printers. cups-pdf writes each job as a PDF into the job
// owner's ~/PDF (its system configuration); tests look there for the files
// of their own jobs and remove them. cups-pdf names a file after the job's
// title and number, and every private server numbers its jobs from 1, so
// servers of test programs running at the same time would overwrite each
// other's files: one private server runs at a time, the others wait for a
// lock file.
//
//   CupsServer cups;                      // throws when cupsd cannot start
//   cups.AddPdfPrinter("Office");
//   ::setenv("CUPS_SERVER", cups.SocketPath().c_str(), 1);
//
// Tests call CupsServer::UnavailableReason() first and skip when it is not
// empty.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace quillon::test {

class CupsServer {
 public:
  // Waits for the other private servers to end, starts cupsd and waits
  // until it answers. Throws std::runtime_error (with the end of its error
  // log) on failure.
  CupsServer();
  ~CupsServer();
  CupsServer(const CupsServer&) = delete;
  CupsServer& operator=(const CupsServer&) = delete;

  // Why a private cupsd with cups-pdf cannot run here; empty when it can.
  static std::string UnavailableReason();

  // The value for CUPS_SERVER.
  std::string SocketPath() const { return root_ + "/cups.sock"; }

  // Adds an enabled cups-pdf queue. Throws std::runtime_error on failure.
  void AddPdfPrinter(const std::string& name);
  void SetDefaultPrinter(const std::string& name);
  // The queue refuses new jobs from now on.
  void RejectJobs(const std::string& name);

  // Job ids the scheduler knows, finished or not.
  std::vector<std::string> Jobs() const;
  // Waits until no job is pending or printing; false at the deadline.
  bool WaitUntilIdle(std::chrono::seconds limit) const;

  // Where cups-pdf writes the jobs of this process's user.
  static std::filesystem::path PdfDirectory();
  // PDF files in PdfDirectory() written at or after `since`.
  static std::vector<std::filesystem::path> PdfsSince(
      std::filesystem::file_time_type since);
  // Waits for the scheduler to finish its jobs and for a PDF written since
  // `since` that `wanted` accepts (other test programs may print into the
  // same directory at the same time); empty at the deadline.
  std::filesystem::path WaitForPdf(
      std::filesystem::file_time_type since, std::chrono::seconds limit,
      const std::function<bool(const std::filesystem::path&)>& wanted) const;

  // The scheduler's error log so far (for failure messages).
  std::string LogText() const;

 private:
  void WriteConfiguration();
  void Start();
  void Stop();
  // Runs a CUPS client program against this server; returns its output and
  // sets `exit_code`.
  std::string RunClient(const std::string& command, int& exit_code) const;

  // Holds the machine-wide lock of the private servers.
  class ServerLock {
   public:
    ServerLock();
    ~ServerLock();
    ServerLock(const ServerLock&) = delete;
    ServerLock& operator=(const ServerLock&) = delete;

   private:
    int fd_ = -1;
  };

  ServerLock lock_;
  std::string root_;
  pid_t pid_ = -1;
};

}  // namespace quillon::test
