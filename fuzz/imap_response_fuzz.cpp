// The IMAP4 response reader and the untagged-response handler: the input is
// what a server sends, assembled into lines (literals inlined) as
// ReadResponseLine does, and each untagged line handed to HandleUntagged of
// a client with INBOX selected. Protocol errors (EImapError) are expected;
// anything else, or a crash, is a fault.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/imap_client.h"
#include "net/imap_line_assembler.h"

namespace {

void HandleLine(quillon::TImap4Client& client, const std::string& line) {
  if (line.size() < 2 || line[0] != '*') return;
  try {
    client.HandleUntagged(line.substr(2));
  } catch (const quillon::EImapError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quillon::ImapReadLimits limits;
  limits.max_line_length = 64 * 1024;
  limits.max_literal_length = 1024 * 1024;
  quillon::ImapLineAssembler assembler(limits);
  quillon::TMailboxList mailboxes;
  quillon::TImap4Client client;
  client.SetAllMailboxes(&mailboxes);
  client.SetMailBox("INBOX");  // not connected: only stored
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t position = 0;
  try {
    while (position < input.size()) {
      position += assembler.Feed(input.substr(position));
      if (assembler.Complete()) HandleLine(client, assembler.TakeLine());
    }
  } catch (const quillon::EImapError&) {
    return 0;  // a limit passed: the connection would be closed here
  }
  // A last line without its line end, as if the server had closed.
  HandleLine(client, assembler.TakeLine());
  return 0;
}
