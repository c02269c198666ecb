// Certificates for TLS tests, made with openssl in a directory of their own:
// a CA, a server certificate it signed for 127.0.0.1 and localhost, one
// expired and one for another name under the same key, a client
// certificate, and a second CA that signed none of them.
#pragma once

#include <string>

#include "tests/support/scratchDirectory.h"

namespace lctest {

class TestCertificates {
  public:
    // Makes them all; false (with a test failure saying what openssl said)
    // when it cannot.
    bool make();

    std::string ca() const { return file("ca.crt"); }
    std::string otherCa() const { return file("other-ca.crt"); }
    std::string serverCert() const { return file("server.crt"); }
    std::string serverKey() const { return file("server.key"); }
    std::string expiredServerCert() const { return file("expired.crt"); }
    std::string wrongNameServerCert() const { return file("wrong-name.crt"); }
    std::string clientCert() const { return file("client.crt"); }
    // Mode 0600, as the service takes it.
    std::string clientKey() const { return file("client.key"); }
    const std::string& directory() const { return directory_.path(); }

  private:
    std::string file(const char* name) const { return directory_.path() + "/" + name; }

    ScratchDirectory directory_{"lc-certs"};
};

}  // namespace lctest
