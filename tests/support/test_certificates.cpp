#include "tests/support/test_certificates.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quillon::test {

namespace {

namespace fs = std::filesystem;

constexpr char kOpenSsl[] = "/usr/bin/openssl";

// The signing CA's settings: one section of extensions per kind of server
// certificate.
constexpr char kCaConfiguration[] = R"([ca]
default_ca = test_ca
[test_ca]
dir = .
database = index.txt
serial = serial
new_certs_dir = issued
default_md = sha256
policy = any
copy_extensions = none
unique_subject = no
[any]
commonName = supplied
[server]
basicConstraints = CA:FALSE
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1, DNS:localhost
[other_host]
basicConstraints = CA:FALSE
extendedKeyUsage = serverAuth
subjectAltName = DNS:mail.other.example
)";

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

bool TestCertificates::Available() { return ::access(kOpenSsl, X_OK) == 0; }

const TestCertificates& TestCertificates::Get() {
  static const TestCertificates certificates;
  return certificates;
}

TestCertificates::TestCertificates() {
  std::string pattern = (fs::temp_directory_path() / "quillon-certs-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a directory for certificates");
  }
  directory_ = pattern;
  // Dovecot's login processes (not root) read the key and certificate.
  fs::permissions(directory_, fs::perms::owner_all | fs::perms::group_exec |
                                  fs::perms::others_exec);
  try {
    Make();
  } catch (...) {
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
    throw;
  }
}

TestCertificates::~TestCertificates() {
  std::error_code ignored;
  fs::remove_all(directory_, ignored);
}

void TestCertificates::Run(const std::string& command) const {
  const std::string log = directory_ + "/openssl.log";
  const std::string line =
      "cd '" + directory_ + "' && " + kOpenSsl + " " + command + " >>openssl.log 2>&1";
  if (std::system(line.c_str()) != 0) {
    throw std::runtime_error("openssl " + command + " failed: " + ReadFile(log));
  }
}

void TestCertificates::Make() {
  WriteFile(directory_ + "/ca.cnf", kCaConfiguration);
  WriteFile(directory_ + "/index.txt", "");
  WriteFile(directory_ + "/serial", "01\n");
  fs::create_directories(directory_ + "/issued");
  const std::string new_key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  for (const char* ca : {"ca", "other_ca"}) {
    Run("req -x509 " + new_key + " -keyout " + ca + ".key -out " + ca +
        ".pem -days 3650 -subj '/CN=Quillon test " + ca + "'");
  }
  struct Issued {
    const char* name;
    const char* extensions;
    const char* validity;
  };
  for (const Issued& issued :
       {Issued{"server", "server", "-days 3650"},
        Issued{"expired", "server", "-startdate 20200101000000Z -enddate 20210101000000Z"},
        Issued{"other_host", "other_host", "-days 3650"}}) {
    const std::string name = issued.name;
    Run("req " + new_key + " -keyout " + name + ".key -out " + name + ".csr -subj '/CN=" +
        name + "'");
    Run(std::string("ca -batch -notext -config ca.cnf -cert ca.pem -keyfile ca.key ") +
        "-extensions " +
        issued.extensions + " " + issued.validity + " -in " + name + ".csr -out " + name +
        ".pem");
    fs::permissions(directory_ + "/" + name + ".key", fs::perms::owner_read |
                                                          fs::perms::group_read |
                                                          fs::perms::others_read);
  }
}

}  // namespace quillon::test
