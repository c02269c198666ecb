// What every TLS link of farm sharing has in common, made once at start
// from the TLS variables: the trusted CAs, this host's certificate and key,
// TLS 1.2 at least, and peer verification, which nothing turns off. Links
// of both threads make their connections from it at once.
#pragma once

#include <openssl/ssl.h>

#include <memory>
#include <string>

#include "share/tlsSettings.h"

class TlsClientContext {
  public:
    // Loads the CA bundle (or the system's store), and the client
    // certificate and key when set; the key's bytes are read by the
    // private-file reader and wiped once loaded. Null with one line naming
    // the variable at fault in `error`.
    static std::shared_ptr<const TlsClientContext> make(const TlsSettings& settings,
                                                        std::string& error);
    ~TlsClientContext();
    TlsClientContext(const TlsClientContext&) = delete;
    TlsClientContext& operator=(const TlsClientContext&) = delete;

    SSL_CTX* context() const { return context_; }
    // The name a server's certificate must carry: VOKLOGOFFSHARETLSNAME, or
    // else the host the server was reached at.
    const std::string& nameFor(const std::string& host) const {
        return name_.empty() ? host : name_;
    }
    // Whether the CAs are the system's (no VOKLOGOFFSHARETLSCA), for advice.
    bool systemStore() const { return systemStore_; }
    bool hasClientCertificate() const { return clientCertificate_; }

  private:
    TlsClientContext() = default;

    SSL_CTX* context_ = nullptr;
    std::string name_;
    bool systemStore_ = true;
    bool clientCertificate_ = false;
};

// OpenSSL's first queued error of this thread, as a line; the queue is
// emptied.
std::string takeTlsError();
