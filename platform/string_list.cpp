#include "platform/string_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/fault_injection.h"
#include "platform/file_handle.h"
#include "platform/text.h"

namespace quillon {

std::string TStringList::Text() const {
  std::string text;
  for (const std::string& line : *this) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void TStringList::SetText(const std::string& text) {
  clear();
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c != '\r' && c != '\n') {
      ++i;
      continue;
    }
    push_back(text.substr(start, i - start));
    ++i;
    if (c == '\r' && i < text.size() && text[i] == '\n') ++i;
    start = i;
  }
  if (start < text.size()) push_back(text.substr(start));
}

namespace {

[[noreturn]] void ThrowFileError(const std::string& action,
                                 const std::string& path) {
  throw std::system_error(errno, std::generic_category(), action + " " + path);
}

void WriteAll(int fd, const std::string& bytes, const std::string& path) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = FileWrite(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0) {
      if (errno == EINTR) continue;
      ThrowFileError("writing", path);
    }
    done += static_cast<std::size_t>(written);
  }
}

}  // namespace

void TStringList::LoadFromFile(const std::string& path) {
  FileHandle file(FileOpen(path.c_str(), O_RDONLY));
  if (!file.IsOpen()) ThrowFileError("opening", path);
  std::string text;
  char buffer[16384];
  for (;;) {
    const ssize_t got = ::read(file.Get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      ThrowFileError("reading", path);
    }
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  SetText(text);
}

void TStringList::SaveToFile(const std::string& path) const {
  std::string pattern = path + ".newXXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  FileHandle file(FileMakeTemp(name.data()));
  if (!file.IsOpen()) ThrowFileError("creating", path);
  try {
    // mkstemp makes the file private; give it the mode open() would have.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(file.Get(), 0666 & ~mask);
    WriteAll(file.Get(), Text(), path);
    if (file.Close() != 0) ThrowFileError("writing", path);
    if (FileRename(name.data(), path.c_str()) != 0) ThrowFileError("replacing", path);
  } catch (...) {
    ::unlink(name.data());
    throw;
  }
}

int TStringList::IndexOf(const std::string& line) const {
  for (std::size_t i = 0; i < size(); ++i) {
    if (SameText((*this)[i], line)) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace quillon
