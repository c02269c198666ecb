#include "share/tlsSettings.h"

#include <cstdlib>

namespace {

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

bool readTlsSettings(TlsSettings& out, std::string& error) {
    out.caFile = variable("VOKLOGOFFSHARETLSCA");
    out.certFile = variable("VOKLOGOFFSHARETLSCERT");
    out.keyFile = variable("VOKLOGOFFSHARETLSKEY");
    out.name = variable("VOKLOGOFFSHARETLSNAME");
    if (out.certFile.empty() != out.keyFile.empty()) {
        error =
            out.certFile.empty()
                ? "VOKLOGOFFSHARETLSKEY: set without VOKLOGOFFSHARETLSCERT; set both or neither"
                : "VOKLOGOFFSHARETLSCERT: set without VOKLOGOFFSHARETLSKEY; set both or neither";
        return false;
    }
    return true;
}
