#include "platform/ini_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/file_handle.h"
#include "platform/text.h"

namespace quillon {

namespace {

// A value written in matching double or single quotes loses them, as the
// profile functions do.
std::string Unquoted(const std::string& value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

std::string WithoutLineEnd(std::string line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
    line.pop_back();
  }
  return line;
}

// The whole file into `text`; the errno of the failure, or 0. A missing
// file reads as empty without error.
int ReadWholeFile(const std::string& path, std::string& text) {
  const FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.IsOpen()) return errno == ENOENT ? 0 : errno;
  char buffer[8192];
  for (;;) {
    const ssize_t got = ::read(file.Get(), buffer, sizeof buffer);
    if (got == 0) return 0;
    if (got < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    text.append(buffer, static_cast<std::size_t>(got));
  }
}

}  // namespace

bool ParseIniInteger(const std::string& text, int& value) {
  return TryStrToInt(Trim(text), value);
}

IniFile::IniFile(std::string path) : path_(std::move(path)) { Load(); }

void IniFile::Load() {
  std::string content;
  read_error_ = ReadWholeFile(path_, content);
  // A file read only in part would pass for one without the keys it lost.
  if (read_error_ != 0) return;
  std::istringstream in(content);
  std::string line;
  // Keys before any section header belong to no section and are ignored.
  Section* current = nullptr;
  while (std::getline(in, line)) {
    const std::string text = Trim(WithoutLineEnd(line));
    if (text.empty() || text[0] == ';') continue;
    if (text.front() == '[') {
      const std::size_t close = text.find(']');
      const std::string name =
          Trim(text.substr(1, close == std::string::npos ? std::string::npos
                                                         : close - 1));
      sections_.push_back(Section{name, {}});
      current = &sections_.back();
      continue;
    }
    const std::size_t equals = text.find('=');
    if (current == nullptr || equals == std::string::npos) continue;
    current->entries.push_back(
        Entry{Trim(text.substr(0, equals)), Trim(text.substr(equals + 1))});
  }
}

void IniFile::Save() const {
  std::ostringstream out;
  for (const Section& section : sections_) {
    out << '[' << section.name << "]\r\n";
    for (const Entry& entry : section.entries) {
      out << entry.key << '=' << entry.value << "\r\n";
    }
    out << "\r\n";
  }
  std::ofstream file(path_, std::ios::binary | std::ios::trunc);
  file << out.str();
  file.flush();
  if (!file) {
    throw std::system_error(errno, std::generic_category(),
                            "writing " + path_);
  }
}

const IniFile::Section* IniFile::FindSection(const std::string& name) const {
  for (const Section& section : sections_) {
    if (SameText(section.name, name)) return &section;
  }
  return nullptr;
}

const IniFile::Entry* IniFile::FindEntry(const std::string& section,
                                         const std::string& key) const {
  const Section* found = FindSection(section);
  if (found == nullptr) return nullptr;
  for (const Entry& entry : found->entries) {
    if (SameText(entry.key, key)) return &entry;
  }
  return nullptr;
}

std::string IniFile::ReadString(const std::string& section,
                                const std::string& key,
                                const std::string& default_value) const {
  const Entry* entry = FindEntry(section, key);
  return entry == nullptr ? default_value : Unquoted(entry->value);
}

int IniFile::ReadInteger(const std::string& section, const std::string& key,
                         int default_value) const {
  const Entry* entry = FindEntry(section, key);
  int value = 0;
  if (entry == nullptr || !ParseIniInteger(Unquoted(entry->value), value)) {
    return default_value;
  }
  return value;
}

bool IniFile::ReadBool(const std::string& section, const std::string& key,
                       bool default_value) const {
  return ReadInteger(section, key, default_value ? 1 : 0) != 0;
}

bool IniFile::SectionExists(const std::string& section) const {
  return FindSection(section) != nullptr;
}

bool IniFile::ValueExists(const std::string& section,
                          const std::string& key) const {
  return FindEntry(section, key) != nullptr;
}

void IniFile::WriteString(const std::string& section, const std::string& key,
                          const std::string& value) {
  Section* target = nullptr;
  for (Section& candidate : sections_) {
    if (SameText(candidate.name, section)) {
      target = &candidate;
      break;
    }
  }
  if (target == nullptr) {
    sections_.push_back(Section{section, {}});
    target = &sections_.back();
  }
  bool replaced = false;
  for (Entry& entry : target->entries) {
    if (SameText(entry.key, key)) {
      entry.value = value;
      replaced = true;
      break;
    }
  }
  if (!replaced) target->entries.push_back(Entry{key, value});
  Save();
}

void IniFile::WriteInteger(const std::string& section, const std::string& key,
                           int value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(const std::string& section, const std::string& key,
                        bool value) {
  WriteString(section, key, value ? "1" : "0");
}

}  // namespace quillon
