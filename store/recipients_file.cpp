#include "store/recipients_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/fault_injection.h"
#include "platform/file_handle.h"
#include "platform/text.h"
#include "store/data_file.h"

namespace quillon {

namespace {

void AppendAddressLine(std::string& text, const char* tag,
                       const RecipientAddress& address) {
  text += tag;
  text += address.Address;
  text += kRecipientSeparator;
  text += address.Name;
  text += kRecipientSeparator;
  text += "-1\r\n";
}

// Splits at CR LF, LF or a lone CR; a final line end adds no empty line.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') {
      ++start;
    }
  }
  return lines;
}

// name + " <" + address + ">" from a line body address S name S -1.
std::string AddressEntry(std::string_view body) {
  return Trim(GetField(2, body, kRecipientSeparator)) + " <" +
         Trim(GetField(1, body, kRecipientSeparator)) + ">";
}

// The list texts are built with a leading "|" before every entry.
std::string WithoutFirstCharacter(const std::string& text) {
  return text.empty() ? text : text.substr(1);
}

}  // namespace

std::string FormatRecipientsText(const RecipientsFileContent& content) {
  std::string text;
  for (const RecipientAddress& to : content.To) AppendAddressLine(text, kToTag, to);
  for (const RecipientAddress& bcc : content.Bcc) AppendAddressLine(text, kBccTag, bcc);
  for (const RecipientAddress& cc : content.Cc) AppendAddressLine(text, kCcTag, cc);
  for (const std::string& name : content.AttachmentFileNames) {
    text += kAttachmentTag + name + "\r\n";
  }
  AppendAddressLine(text, kSenderTag, content.Sender);
  return text;
}

void WriteRecipientsFile(const std::string& path,
                         const RecipientsFileContent& content) {
  const std::string text = FormatRecipientsText(content);
  FileHandle file(FileOpen(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666));
  if (!file.IsOpen()) ThrowInOutError(errno, "creating", path);
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t written = FileWrite(file.Get(), text.data() + done, text.size() - done);
    if (written < 0) {
      if (errno == EINTR) continue;
      ThrowInOutError(errno, "writing", path);
    }
    done += static_cast<std::size_t>(written);
  }
  if (file.Close() != 0) ThrowInOutError(errno, "closing", path);
}

RecipientsSummary SummarizeRecipientsText(std::string_view text) {
  std::string to, cc, bcc;
  RecipientsSummary summary;
  for (std::string_view line : SplitLines(text)) {
    std::string_view tag = line.substr(0, 3);
    std::string_view body = line.substr(tag.size());
    if (tag == kToTag) {
      to += "|" + AddressEntry(body);
    } else if (tag == kCcTag) {
      cc += "|" + AddressEntry(body);
    } else if (tag == kBccTag) {
      bcc += "|" + AddressEntry(body);
    } else if (tag == kSenderTag) {
      summary.SenderEntry = AddressEntry(body);
    }
  }
  summary.ToList = WithoutFirstCharacter(to);
  summary.CcList = WithoutFirstCharacter(cc);
  summary.BccList = WithoutFirstCharacter(bcc);
  return summary;
}

RecipientsSummary ReadRecipientsFile(const std::string& path) {
  FileHandle file(FileOpen(path.c_str(), O_RDONLY));
  if (!file.IsOpen()) ThrowInOutError(errno, "opening", path);
  std::string text;
  char buffer[8192];
  for (;;) {
    ssize_t got = ::read(file.Get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      ThrowInOutError(errno, "reading", path);
    }
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return SummarizeRecipientsText(text);
}

int FieldCount(std::string_view text, char separator) {
  std::string trimmed = TrimRight(text);
  if (trimmed.empty()) return 0;
  int separators = 0;
  for (char c : trimmed) {
    if (c == separator) ++separators;
  }
  return 1 + separators;
}

std::string GetField(std::uint16_t index, std::string_view text,
                     char separator) {
  if (index == 0 || FieldCount(text, separator) < index) return {};
  // FieldCount counted at least index - 1 separators in a prefix of the
  // text, so each of these searches finds one.
  std::size_t start = 0;
  for (int skipped = 1; skipped < index; ++skipped) {
    start = text.find(separator, start) + 1;
  }
  std::size_t end = text.find(separator, start);
  if (end == std::string_view::npos) end = text.size();
  return std::string(text.substr(start, end - start));
}

}  // namespace quillon
