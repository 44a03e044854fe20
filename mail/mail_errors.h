// Exceptions of the mail layer.
#pragma once

#include <stdexcept>
#include <string>

#include "mail/mail_texts.h"

namespace quillon {

// A message lacks what sending needs (Validate).
class EMessageError : public std::runtime_error {
 public:
  explicit EMessageError(int text_id)
      : std::runtime_error(MailText(text_id)), text_id_(text_id) {}
  int TextId() const { return text_id_; }

 private:
  int text_id_;
};

// A raw message could not be decoded; the decoder keeps the message as
// "original.eml" instead of losing it.
class EMessageParserError : public std::runtime_error {
 public:
  explicit EMessageParserError(int text_id)
      : std::runtime_error(MailText(text_id)), text_id_(text_id) {}
  int TextId() const { return text_id_; }

 private:
  int text_id_;
};

// A codec met input it cannot convert ("Invalid Character").
class ECodecError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr char kInvalidCharacterText[] = "Invalid Character";

}  // namespace quillon
