// demo-servers MAILDIR USER PASSWORD: the servers of scripts/demo. Starts a
// private Dovecot (the tests' configuration) with one user, delivers every
// file of MAILDIR whose name ends in ".eml" (in name order) into the user's
// INBOX, and starts an SMTP sink (aiosmtpd). Prints
//
//   pop3 PORT
//   imap PORT
//   smtp PORT
//   ready
//
// and then answers commands read from standard input, one a line:
//   count   the messages in the user's INBOX ("messages N")
//   sink    what the sink received: per message "from", "to" and the data
//           lines indented by two blanks, then a line "."
//   quit    stop the servers and end (also at the end of input and on
//           SIGTERM, SIGINT or SIGHUP)
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/dovecot_server.h"
#include "tests/support/smtp_sink.h"

namespace {

namespace fs = std::filesystem;
using quillon::test::DovecotServer;
using quillon::test::SmtpSink;

volatile sig_atomic_t stop_requested = 0;

void RequestStop(int) { stop_requested = 1; }

void HandleStopSignals() {
  struct sigaction action {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: the wait for input returns at once with EINTR.
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
    sigaction(signal_number, &action, nullptr);
  }
  signal(SIGPIPE, SIG_IGN);
}

std::vector<fs::path> MessageFiles(const std::string& folder) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.is_regular_file() && entry.path().extension() == ".eml") {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void PrintSink(const SmtpSink& sink) {
  for (const SmtpSink::Message& message : sink.Messages()) {
    std::cout << "from " << message.mail_from << "\n";
    for (const std::string& recipient : message.recipients) {
      std::cout << "to " << recipient << "\n";
    }
    std::string line;
    for (char c : message.data) {
      if (c == '\n') {
        std::cout << "  " << line << "\n";
        line.clear();
      } else if (c != '\r') {
        line += c;
      }
    }
    if (!line.empty()) std::cout << "  " << line << "\n";
  }
  std::cout << "." << std::endl;
}

// Reads one line of standard input; false at its end, on a read error or
// when a stop signal came.
bool ReadCommand(std::string& command) {
  command.clear();
  while (!stop_requested) {
    pollfd entry{STDIN_FILENO, POLLIN, 0};
    if (::poll(&entry, 1, -1) < 0) continue;  // EINTR: look at the flag
    char c = 0;
    const ssize_t got = ::read(STDIN_FILENO, &c, 1);
    if (got <= 0) return false;
    if (c == '\n') return true;
    if (command.size() < 256) command += c;
  }
  return false;
}

void Serve(DovecotServer& dovecot, const SmtpSink& sink, const std::string& user) {
  std::string command;
  while (ReadCommand(command)) {
    if (command == "count") {
      std::cout << "messages " << dovecot.CountMessages(user) << std::endl;
    } else if (command == "sink") {
      PrintSink(sink);
    } else if (command == "quit") {
      return;
    } else {
      std::cout << "unknown command: " << command << std::endl;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: demo-servers MAILDIR USER PASSWORD\n";
    return 2;
  }
  HandleStopSignals();
  const std::string user = argv[2];
  try {
    if (!DovecotServer::Available()) {
      std::cerr << "demo-servers: Dovecot is not installed or this is not root\n";
      return 1;
    }
    if (!SmtpSink::Available()) {
      std::cerr << "demo-servers: python3-aiosmtpd is not installed\n";
      return 1;
    }
    DovecotServer dovecot({{user, argv[3]}});
    SmtpSink sink;
    for (const fs::path& file : MessageFiles(argv[1])) {
      dovecot.Deliver(user, ReadFile(file));
    }
    std::cout << "pop3 " << dovecot.Pop3Port() << "\nimap " << dovecot.ImapPort()
              << "\nsmtp " << sink.Port() << "\nready" << std::endl;
    Serve(dovecot, sink, user);
  } catch (const std::exception& error) {
    std::cerr << "demo-servers: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
