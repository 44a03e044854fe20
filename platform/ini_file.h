// Profile files ("ini" files) with the semantics the suite's files rely on:
// sections and keys compare without regard to case, a missing file or key
// gives the caller's default, integers are read the ini way.
#pragma once

#include <string>
#include <vector>

namespace quillon {

class IniFile {
 public:
  // Reads `path` when it exists; a missing or unreadable file is empty.
  explicit IniFile(std::string path);

  const std::string& Path() const { return path_; }
  // The system's error code (errno) when the file exists but could not be
  // read whole (a directory, no permission, an input/output error); 0 when
  // it was read or is missing.
  int ReadError() const { return read_error_; }

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& default_value) const;
  // Decimal, or hexadecimal with "0x"/"$"; anything else gives the default.
  int ReadInteger(const std::string& section, const std::string& key,
                  int default_value) const;
  // An integer, non-zero is true.
  bool ReadBool(const std::string& section, const std::string& key,
                bool default_value) const;
  bool SectionExists(const std::string& section) const;
  bool ValueExists(const std::string& section, const std::string& key) const;

  // Writers change the file at once (as the profile functions do).
  void WriteString(const std::string& section, const std::string& key,
                   const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key,
                    int value);
  void WriteBool(const std::string& section, const std::string& key,
                 bool value);

 private:
  struct Entry {
    std::string key;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };

  void Load();
  void Save() const;
  const Section* FindSection(const std::string& name) const;
  const Entry* FindEntry(const std::string& section,
                         const std::string& key) const;

  std::string path_;
  std::vector<Section> sections_;
  int read_error_ = 0;
};

// Integer conversion "the ini way": optional sign, decimal digits, or hex
// after "0x"/"$"; surrounding blanks allowed. False when `text` is not one.
bool ParseIniInteger(const std::string& text, int& value);

}  // namespace quillon
