// The exceptions of the socket layer and the protocol clients. Each carries
// only its message text.
#pragma once

#include <stdexcept>
#include <string>

namespace quillon {

// A failed socket call or a failed component check (missing Server, not
// connected, ...). Raised through TagSocket::SocketError, after OnError.
class ESocketError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A negative protocol reply; the message is the server's reply line as
// received. Raised without OnError and without closing anything.
class EServerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An encrypted connection could not be set up: the server's certificate
// was refused, the handshake failed, or STARTTLS was asked for and the
// server did not offer or accept it. The message names the host and why.
class ETlsError : public ESocketError {
 public:
  using ESocketError::ESocketError;
};

// A wait ran out of time: always "Operation timed out".
class ETimedOutError : public std::runtime_error {
 public:
  ETimedOutError();
};

// A wait found the cancel flag set: always "Operation has been canceled".
class ECanceledError : public std::runtime_error {
 public:
  ECanceledError();
};

// The process-wide socket layer is not available ("Winsock is not loaded",
// "Winsock not found", "Function %s not found").
class EWinsockDLLError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A reply field that should be a number is not one: "'x' is not a valid
// integer value", as the string-to-integer routine reports it.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace quillon
