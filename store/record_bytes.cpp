#include "store/record_bytes.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace quillon {

namespace {

void CheckRange(const std::string& record, std::size_t offset,
                std::size_t width) {
  if (offset > record.size() || width > record.size() - offset) {
    throw std::out_of_range("record field at " + std::to_string(offset) +
                            " lies outside a record of " +
                            std::to_string(record.size()) + " bytes");
  }
}

}  // namespace

std::int32_t GetInt32(const std::string& record, std::size_t offset) {
  CheckRange(record, offset, 4);
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) {
    value = (value << 8) | static_cast<unsigned char>(record[offset + i]);
  }
  return static_cast<std::int32_t>(value);
}

void PutInt32(std::string& record, std::size_t offset, std::int32_t value) {
  CheckRange(record, offset, 4);
  auto bits = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) {
    record[offset + i] = static_cast<char>(bits & 0xFF);
    bits >>= 8;
  }
}

double GetDouble(const std::string& record, std::size_t offset) {
  CheckRange(record, offset, 8);
  std::uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) {
    bits = (bits << 8) | static_cast<unsigned char>(record[offset + i]);
  }
  double value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

void PutDouble(std::string& record, std::size_t offset, double value) {
  CheckRange(record, offset, 8);
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  for (int i = 0; i < 8; ++i) {
    record[offset + i] = static_cast<char>(bits & 0xFF);
    bits >>= 8;
  }
}

std::uint8_t GetByte(const std::string& record, std::size_t offset) {
  CheckRange(record, offset, 1);
  return static_cast<std::uint8_t>(record[offset]);
}

void PutByte(std::string& record, std::size_t offset, std::uint8_t value) {
  CheckRange(record, offset, 1);
  record[offset] = static_cast<char>(value);
}

std::string GetText(const std::string& record, std::size_t offset,
                    std::size_t capacity) {
  CheckRange(record, offset, capacity + 1);
  std::size_t length = std::min<std::size_t>(
      static_cast<unsigned char>(record[offset]), capacity);
  return record.substr(offset + 1, length);
}

void PutText(std::string& record, std::size_t offset, std::size_t capacity,
             const std::string& value) {
  CheckRange(record, offset, capacity + 1);
  std::size_t length = std::min({value.size(), capacity, std::size_t{255}});
  record[offset] = static_cast<char>(length);
  std::memcpy(record.data() + offset + 1, value.data(), length);
}

}  // namespace quillon
