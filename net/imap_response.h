// The untagged FETCH response taken apart: item by item, with the ENVELOPE
// and its address lists. Only parsing; the client applies the items to the
// mailbox model.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/imap_flags.h"
#include "net/imap_tokens.h"

namespace quillon {

struct ImapAddress {
  std::string name;     // empty for NIL
  std::string address;  // mailbox@host, or "Group:" + mailbox without a host
};

struct ImapAddressList {
  bool nil = true;
  std::vector<ImapAddress> addresses;
};

struct ImapEnvelope {
  std::string date;                    // empty for NIL
  std::optional<std::string> subject;  // nullopt for NIL
  ImapAddressList from;
  ImapAddressList to;
  ImapAddressList cc;
  ImapAddressList bcc;
};

enum class ImapFetchItemKind {
  kFlags,
  kInternalDate,
  kRfc822,
  kRfc822Header,
  kRfc822Size,
  kRfc822Text,
  kUid,
  kEnvelope,
  kBody
};

struct ImapFetchItem {
  ImapFetchItemKind kind = ImapFetchItemKind::kBody;
  ImapToken token;               // RFC822, RFC822.HEADER, RFC822.TEXT, INTERNALDATE
  std::string flag_text;         // FLAGS, with its parentheses
  TMessageFlagSet flags;         // FLAGS
  int number = 0;                // RFC822.SIZE, UID
  ImapEnvelope envelope;         // ENVELOPE

  // The bytes of a content item (they live in the parsed line).
  std::string_view Content() const;
};

struct ImapFetchResponse {
  int number = 0;  // the message sequence number
  std::vector<ImapFetchItem> items;
};

// The sequence number when `text` is "<number> FETCH (...".
std::optional<int> MatchFetchResponse(std::string_view text);

// Parses "<number> FETCH (<items>)". Items this client does not use
// (BODYSTRUCTURE, MODSEQ, ...) are skipped. Raises EImapError with the
// client's messages for a malformed FLAGS, RFC822.SIZE, UID or ENVELOPE.
// The result refers to `text` and must not outlive it.
ImapFetchResponse ParseFetchResponse(std::string_view text);

}  // namespace quillon
