// A scripted fake line server for protocol tests (POP3, SMTP, IMAP).
//
// The server listens on a free loopback port and plays a script in its own
// thread against the one client that connects. Scripts are written one step
// per line, in the same "C:" / "S:" form as the clients' traces:
//
//   C: USER joe        the client must send exactly this line (CR LF or LF
//                      ended; compared without the line end)
//   C~ HELO            the client must send a line beginning with this text
//   S: +OK ready       the server sends this line and CR LF (one write)
//   R: +OK\r\npart     the server sends these bytes as they are, in one write
//                      (escapes \r \n \t \\ \xHH)
//   B: abc\r\n         as R:, but one write per byte (replies split anywhere)
//   W: 200             the server pauses 200 ms (only for slow-server cases;
//                      tests never wait on it to let something happen)
//   D                  the server reads a data block from the client up to
//                      a line "." and keeps it for DataBlocks()
//   X                  the server closes the connection
//   Z                  the server resets the connection (the client sees
//                      ECONNRESET, Winsock code 10054)
//   H                  the server goes silent and holds the connection until
//                      the client closes it or the server is destroyed
//   A                  the server accepts the next connection (the old one
//                      is closed first)
//
// When the last step is done the server closes the connection (end a
// script with H to keep it open). Lines that are empty or begin with "#"
// are skipped. The same steps can be
// built in code (Script), which suits long or binary replies; a flood
// (Script::Flood) exists only there.
//
// A mismatch, a client that goes away early, or a step that waits longer
// than the step limit (30 s) ends the script: the server closes the
// connection and Finish() reports what went wrong.
#pragma once

#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace quillon::test {

struct ScriptStep {
  enum class Kind {
    kExpect,        // C:
    kExpectPrefix,  // C~
    kSend,          // S: and R: (text holds the exact bytes)
    kSendBytewise,  // B:
    kPause,         // W:
    kReadData,      // D
    kClose,         // X
    kReset,         // Z
    kSilence,       // H
    kAccept,        // A
    kFlood,         // (code only)
  };
  Kind kind;
  std::string text;
  std::chrono::milliseconds pause{0};
  std::uint64_t times = 1;  // of a flood
};

class Script {
 public:
  Script() = default;
  // Parses the text form above; throws std::invalid_argument on a bad line.
  explicit Script(std::string_view text);

  Script& Expect(std::string line);
  Script& ExpectPrefix(std::string prefix);
  Script& Send(std::string line);           // adds CR LF
  Script& SendRaw(std::string bytes);       // as they are, one write
  Script& SendBytewise(std::string bytes);  // one write per byte
  Script& Pause(std::chrono::milliseconds duration);
  Script& ReadData();
  Script& Close();
  Script& Reset();
  Script& Silence();
  Script& Accept();
  // `bytes` sent `times` over; a client that goes away ends the flood
  // quietly, since refusing it is what the flood is for.
  Script& Flood(std::string bytes, std::uint64_t times);

  const std::vector<ScriptStep>& Steps() const { return steps_; }

 private:
  std::vector<ScriptStep> steps_;
};

// "\r\n" and friends of the R: and B: steps turned into bytes.
std::string UnescapeScriptBytes(std::string_view text);

class ScriptedServer {
 public:
  explicit ScriptedServer(const Script& script);
  explicit ScriptedServer(std::string_view script_text);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  int Port() const { return port_; }
  // "127.0.0.1:PORT", ready for a client's Server property.
  std::string Address() const;

  // Waits until the script has run to its end (or failed). Returns the
  // failures, empty when the client did exactly what the script expected.
  std::string Finish(std::chrono::seconds limit = std::chrono::seconds(30));

  // The dialogue as the server saw it: "C: ..." and "S: ..." lines.
  std::vector<std::string> Transcript() const;
  // The data blocks that the D steps read, each with its final "." line.
  std::vector<std::string> DataBlocks() const;
  // Client connections accepted so far.
  int Connections() const;

 private:
  class Session;
  void Run();
  std::unique_ptr<Session> AcceptNext(std::string& why);
  // Each runs one step; false ends the script (the failure is recorded).
  bool RunStep(std::unique_ptr<Session>& session, std::size_t index);
  bool ExpectLine(Session& session, const ScriptStep& step, const std::string& where);
  bool SendBytes(Session& session, const ScriptStep& step, const std::string& where);
  bool ReadDataBlock(Session& session, const std::string& where);
  void Fail(const std::string& message);
  void Record(std::string line);

  std::vector<ScriptStep> steps_;
  int listener_ = -1;
  int port_ = 0;
  int stop_pipe_[2] = {-1, -1};  // written by the destructor to end waits

  mutable std::mutex mutex_;
  std::condition_variable finished_changed_;
  bool finished_ = false;
  std::string failures_;
  std::vector<std::string> transcript_;
  std::vector<std::string> data_blocks_;
  int connections_ = 0;

  std::thread thread_;
};

// A loopback port on which connections are refused at once: a bound
// socket that never listens holds it, so no other test can take it.
class RefusingPort {
 public:
  RefusingPort();
  ~RefusingPort();
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;

  int Port() const { return port_; }
  std::string Address() const;

 private:
  int socket_ = -1;
  int port_ = 0;
};

}  // namespace quillon::test
