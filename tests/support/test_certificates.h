// Certificates for TLS tests, made with the openssl CLI under a private CA
// the first time a test asks for them, once per process, in a temporary
// directory that goes away when the process ends. EC keys keep it quick.
//
//   const TestCertificates& certificates = TestCertificates::Get();
//   DovecotServer dovecot(users, DovecotServer::Tls{certificates.Server()...});
//   client.SetCAFile(certificates.CaFile());
#pragma once

#include <string>

namespace quillon::test {

struct TestCertificate {
  std::string certificate_file;  // PEM
  std::string key_file;          // PEM
};

class TestCertificates {
 public:
  // Throws std::runtime_error with openssl's output when making them fails.
  static const TestCertificates& Get();
  static bool Available();  // the openssl program is installed

  // The private CA that signed the server certificates below.
  std::string CaFile() const { return directory_ + "/ca.pem"; }
  // Another CA, which signed none of them.
  std::string OtherCaFile() const { return directory_ + "/other_ca.pem"; }
  // For 127.0.0.1 and localhost, valid for years.
  TestCertificate Server() const { return Pair("server"); }
  // For the same names, expired since 2021.
  TestCertificate Expired() const { return Pair("expired"); }
  // For mail.other.example only.
  TestCertificate OtherHost() const { return Pair("other_host"); }

  ~TestCertificates();
  TestCertificates(const TestCertificates&) = delete;
  TestCertificates& operator=(const TestCertificates&) = delete;

 private:
  TestCertificates();
  TestCertificate Pair(const std::string& name) const {
    return {directory_ + "/" + name + ".pem", directory_ + "/" + name + ".key"};
  }
  void Make();
  void Run(const std::string& command) const;

  std::string directory_;
};

}  // namespace quillon::test
