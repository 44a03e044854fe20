// quillon PARAMFILE [LANG]: reads one account's mail for the main
// application. QUILLON_SHOW_STATE gives the start show state (1 or 5 show
// the status window), QUILLON_DATA_DIR the directory of the data files.
// Exit status: 0 after a normal end of the run, else the codes of
// app/retrieval_driver.h.
#include <malloc.h>
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/dbus_talker.h"
#include "app/mail_address_dialog.h"
#include "app/message_box.h"
#include "app/network_manager_dialer.h"
#include "app/print_preview_form.h"
#include "app/qt_message_printer.h"
#include "app/receive_status.h"
#include "net/ag_ras.h"
#include "platform/data_dir.h"
#include "platform/qt_pump.h"
#include "rules/talker_sender.h"

namespace {

constexpr char kApplicationTitle[] = "Downloading mail...";
constexpr char kVersionText[] = "quillon 1.0 (Corvane 4 Preview 6)";
constexpr char kUsageText[] =
    "Usage: quillon PARAMFILE [LANGUAGE]\n"
    "Reads the mail of one account for the Corvane main application.\n"
    "\n"
    "  PARAMFILE  the run's parameter file (ini); deleted once read\n"
    "  LANGUAGE   0 English (default), 1 Icelandic\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Environment: QUILLON_DATA_DIR (the data files' directory),\n"
    "QUILLON_SHOW_STATE (1 or 5 show the status window).\n"
    "Exit status: 0 after a normal end; 1 when the run failed; 2 when it\n"
    "was cancelled or ended early; 3 when the server could not be reached.\n";

// --help and --version answer without touching any file.
bool AnswerInformationRequest(int argc, char* argv[]) {
  if (argc < 2) return false;
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kUsageText, stdout);
    return true;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("%s\n", kVersionText);
    return true;
  }
  return false;
}

// One message after another needs about as much memory as the one before
// (the response, the decoder's copy, the decoded parts). By default the
// allocator hands large freed blocks back to the system and the next
// message faults them in again page by page, which costs more than the
// copying itself; keeping freed memory (up to a bound) avoids that, and the
// peak stays that of the largest message.
void KeepFreedMemoryForTheNextMessage() {
#if defined(__GLIBC__)
  constexpr int kKeptBytes = 64 << 20;
  constexpr int kLargestHeapBlock = 32 << 20;  // larger ones are mapped apart
  ::mallopt(M_TRIM_THRESHOLD, kKeptBytes);
  ::mallopt(M_MMAP_THRESHOLD, kLargestHeapBlock);
#endif
}

std::string Absolute(const std::string& path) {
  std::error_code error;
  const auto absolute = std::filesystem::absolute(path, error);
  return error ? path : absolute.string();
}

}  // namespace

int main(int argc, char* argv[]) {
  if (AnswerInformationRequest(argc, argv)) return 0;
  KeepFreedMemoryForTheNextMessage();
  quillon::UseOffscreenPlatformWithoutDisplay();
  QApplication application(argc, argv);
  QApplication::setApplicationName(kApplicationTitle);
  // The status window ends the program itself, also when it never showed.
  QApplication::setQuitOnLastWindowClosed(false);
  quillon::QtPump pump;
  quillon::InstallPump(&pump);
  // The run's notifications to the main application go over the session bus.
  quillon::DBusTalker talker;
  quillon::InstallTalker(&talker);
  quillon::InstallMailAddressDialog();

  // The program works in its data directory; paths given relative to where
  // it was started are made absolute first.
  std::vector<std::string> arguments(argv + 1, argv + argc);
  if (!arguments.empty() && !arguments[0].empty()) {
    arguments[0] = Absolute(arguments[0]);
  }
  quillon::SetDataDirectory(Absolute(quillon::DataDirectory()));

  int exit_code = 0;
  {
    quillon::TReceiveStatus window(arguments);
    // The dial-up component: its entries are listed, its progress would go
    // to the status line; no socket of the run is attached to it.
    quillon::NetworkManagerDialer dialer;
    quillon::TagRas DialUp(dialer);
    DialUp.SetForceService(false);
    DialUp.OnStatusChange = [&window](quillon::TagRas&,
                                      const std::string& text) {
      window.SetStatusText(text);
    };
    DialUp.ShowErrorBox = [](const std::string& text) {
      quillon::ShowMessageBox(text, quillon::BoxIcon::kError,
                              quillon::BoxButtons::kOk);
    };
    // The print window of the print rules; it shows itself only while a
    // message prints.
    quillon::TPreViewForm print_window;
    quillon::QtMessagePrinter printer(*window.MessageText, print_window);
    window.SetPrinter(&printer);
    const int show_state =
        quillon::DisplayAvailable() ? quillon::StartShowState() : 0;  // hidden
    window.ShowAtStart(show_state);
    exit_code = QApplication::exec();
  }
  quillon::InstallTalker(nullptr);
  quillon::InstallPump(nullptr);
  return exit_code;
}
