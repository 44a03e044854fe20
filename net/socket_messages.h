// The numbered texts of the socket layer (string-table numbers 57000 and up)
// and the Winsock error texts, plus the mapping of POSIX errors onto the
// Winsock error codes that users see in those texts.
#pragma once

#include <optional>
#include <string>

namespace quillon {

// Component message numbers, used with TagSocket::SocketError.
inline constexpr int kMsgTimedOut = 57000;            // "Operation timed out"
inline constexpr int kMsgCanceled = 57001;            // "Operation has been canceled"
inline constexpr int kMsgServerRequired = 57002;      // "Server property is required"
inline constexpr int kMsgInvalidVersion = 57003;      // "Invalid Winsock version"
inline constexpr int kMsgResolveFailed = 57004;       // "Error resolving remote host"
inline constexpr int kMsgServiceRequired = 57005;     // "Service name is required"
inline constexpr int kMsgNotConnected = 57008;        // "You have to connect to the server first"
inline constexpr int kMsgFunctionNotFound = 57010;    // "Function %s not found"
inline constexpr int kMsgWinsockNotLoaded = 57011;    // "Winsock is not loaded"
inline constexpr int kMsgWinsockNotFound = 57012;     // "Winsock not found"
// Limits on what a server may send in one reply or one data block; the
// connection is closed when they are passed, since its framing is lost.
inline constexpr int kMsgReplyTooLong = 57013;        // "Server reply too long"
inline constexpr int kMsgDataTooLong = 57014;         // "Received data too long"
// A command line must stay one line: text that carries CR or LF (say, an
// address taken from a received message) could smuggle in commands.
inline constexpr int kMsgLineBreakInCommand = 57015;  // "Command contains a line break"
// An encrypted connection failed after its handshake (a damaged record).
inline constexpr int kMsgTlsBroken = 57016;           // "Encrypted connection failed"
// Numbers of the mail layer that the protocol clients raise through
// SocketError.
inline constexpr int kMsgMailMessageRequired = 57102; // "MailMessage property must be assigned"
inline constexpr int kMsgUserNameRequired = 57103;    // "UserName property is required"
inline constexpr int kMsgPasswordRequired = 57104;    // "Password property is required"

// Winsock error codes that the component itself tests for.
inline constexpr int kWsaEWouldBlock = 10035;
inline constexpr int kWsaEConnReset = 10054;
inline constexpr int kWsaEConnRefused = 10061;
inline constexpr int kWsaHostNotFound = 11001;
inline constexpr int kWsaTryAgain = 11002;
inline constexpr int kWsaNoRecovery = 11003;
inline constexpr int kWsaNoData = 11004;

// The text with that number: a component message, or a Winsock error text
// (code 0 has its text under 10000). Nothing when there is none.
std::optional<std::string> SocketMessageText(int number);

// The message SocketError reports for a code: its text, else "Error #" and
// the decimal code.
std::string SocketErrorMessage(int code);

// The Winsock error code for an errno value of a socket call. Values that
// Winsock has no code for are returned unchanged.
int WinsockErrorFromErrno(int error_number);

// The Winsock error code (11001 to 11004) for a getaddrinfo result (EAI_*).
int WinsockErrorFromAddrInfo(int eai_code);

}  // namespace quillon
