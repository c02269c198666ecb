#include "tests/support/testCertificates.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/commandRun.h"

namespace lctest {

bool TestCertificates::make() {
    const std::string& dir = directory_.path();
    {
        std::ofstream(dir + "/server.ext") << "subjectAltName=IP:127.0.0.1,DNS:localhost\n";
        std::ofstream(dir + "/wrong-name.ext") << "subjectAltName=DNS:elsewhere.example\n";
    }
    // EC keys: made in milliseconds, where RSA keys take a while.
    const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes";
    const std::string sign = "openssl x509 -req -CA ca.crt -CAkey ca.key -CAcreateserial";
    const std::string script =
        "set -e; cd '" + dir + "'; umask 077\n" + "openssl req -x509 " + key +
        " -keyout ca.key -out ca.crt -subj /CN=lc-test-ca -days 2\n" + "openssl req -x509 " + key +
        " -keyout other-ca.key -out other-ca.crt -subj /CN=lc-other-ca -days 2\n" + "openssl req " +
        key + " -keyout server.key -out server.csr -subj /CN=lc-redis\n" + sign +
        " -in server.csr -out server.crt -days 2 -extfile server.ext\n" +
        // Expired yesterday: verification fails on the date alone.
        sign + " -in server.csr -out expired.crt -days -1 -extfile server.ext\n" + sign +
        " -in server.csr -out wrong-name.crt -days 2 -extfile wrong-name.ext\n" + "openssl req " +
        key + " -keyout client.key -out client.csr -subj /CN=lc-farm-host\n" + sign +
        " -in client.csr -out client.crt -days 2\n" +
        // Redis reads them as whoever the test runs as; the client key
        // stays private, as the service wants it.
        "chmod 644 *.crt server.key\n";
    std::ofstream(dir + "/make.sh") << script;
    CommandRun run = runCommand("sh '" + dir + "/make.sh' 2>&1");
    if (run.status != 0) {
        ADD_FAILURE() << "openssl could not make the test certificates: " << run.out;
        return false;
    }
    return true;
}

}  // namespace lctest
