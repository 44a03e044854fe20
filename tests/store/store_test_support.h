// A private data directory per test, and byte helpers that build and read
// records straight from the file layouts, independent of the store's own
// record code.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/data_dir.h"

namespace quillon::test {

class StoreDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quillon-store-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    directory_ = pattern;
    std::filesystem::create_directory(directory_ / "In");
    SetDataDirectory(directory_.string());
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  std::string PathOf(const std::string& name) const {
    return (directory_ / name).string();
  }
  std::string ReadBytes(const std::string& name) const {
    std::ifstream in(PathOf(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void WriteBytes(const std::string& name, const std::string& bytes) const {
    std::ofstream out(PathOf(name), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  bool Exists(const std::string& name) const {
    return std::filesystem::exists(directory_ / name);
  }

  std::filesystem::path directory_;
};

// Little-endian 32-bit integer at `offset`.
inline void Le32(std::string& bytes, std::size_t offset, std::int32_t value) {
  auto bits = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<char>((bits >> (8 * i)) & 0xFF);
}
inline std::int32_t Le32At(const std::string& bytes, std::size_t offset) {
  std::uint32_t bits = 0;
  for (int i = 3; i >= 0; --i) bits = (bits << 8) | static_cast<unsigned char>(bytes.at(offset + i));
  return static_cast<std::int32_t>(bits);
}
// Length byte + characters.
inline void Pascal(std::string& bytes, std::size_t offset, const std::string& text) {
  bytes.at(offset) = static_cast<char>(text.size());
  bytes.replace(offset + 1, text.size(), text);
}
inline std::string PascalAt(const std::string& bytes, std::size_t offset) {
  return bytes.substr(offset + 1, static_cast<unsigned char>(bytes.at(offset)));
}
inline std::uint8_t ByteAt(const std::string& bytes, std::size_t offset) {
  return static_cast<std::uint8_t>(bytes.at(offset));
}
// Record `number` of a file of `size`-byte records.
inline std::string RecordAt(const std::string& file, std::size_t size,
                            std::size_t number) {
  return file.substr(number * size, size);
}

}  // namespace quillon::test
