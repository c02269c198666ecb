// Farm sharing's TLS, read from the environment at start with the rest of
// the configuration (share/shareConfig.h), for rediss:// and sentinels://:
//   VOKLOGOFFSHARETLSCA    CA bundle (PEM) the servers' certificates must
//                          chain to; unset: the system's store
//   VOKLOGOFFSHARETLSCERT  this host's client certificate (PEM, its chain
//                          after it), for servers that ask for one
//   VOKLOGOFFSHARETLSKEY   that certificate's key (PEM, without a
//                          passphrase), a private file; CERT and KEY are
//                          set both or neither
//   VOKLOGOFFSHARETLSNAME  the name (or IP address) the servers'
//                          certificates must carry, instead of the address
//                          each is reached at
// A server is always verified: its chain, its name, TLS 1.2 or later.
#pragma once

#include <string>

struct TlsSettings {
    std::string caFile;
    std::string certFile;
    std::string keyFile;
    std::string name;

    // Whether any variable is set.
    bool any() const {
        return !caFile.empty() || !certFile.empty() || !keyFile.empty() || !name.empty();
    }
};

// Reads the variables (an empty one counts as unset). False with one line
// naming the variable at fault in `error`.
bool readTlsSettings(TlsSettings& out, std::string& error);
