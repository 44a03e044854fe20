// Reading and writing the fields of a fixed-size record held as bytes:
// 32-bit little-endian integers, 64-bit IEEE doubles, single bytes and
// length-prefixed texts of fixed room. Offsets outside the record throw
// std::out_of_range; a text never reads or writes past its room.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quillon {

std::int32_t GetInt32(const std::string& record, std::size_t offset);
void PutInt32(std::string& record, std::size_t offset, std::int32_t value);

double GetDouble(const std::string& record, std::size_t offset);
void PutDouble(std::string& record, std::size_t offset, double value);

std::uint8_t GetByte(const std::string& record, std::size_t offset);
void PutByte(std::string& record, std::size_t offset, std::uint8_t value);

// Text of capacity N: a length byte then N bytes. A stored length above the
// capacity is read as the capacity; a longer value is cut when written.
std::string GetText(const std::string& record, std::size_t offset,
                    std::size_t capacity);
void PutText(std::string& record, std::size_t offset, std::size_t capacity,
             const std::string& value);

}  // namespace quillon
