#include "share/tlsTransport.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <poll.h>

#include <cerrno>
#include <cstring>

#include "share/shareConfig.h"

namespace {

using Clock = std::chrono::steady_clock;

bool isIpAddress(const std::string& name) {
    unsigned char address[sizeof(in6_addr)];
    return inet_pton(AF_INET, name.c_str(), address) == 1 ||
           inet_pton(AF_INET6, name.c_str(), address) == 1;
}

// Checks the server's name: a host name against the certificate's DNS
// names, an address against its IP addresses. A host name is sent in the
// handshake too, for a server that holds certificates for several.
bool expectName(SSL* ssl, const std::string& name) {
    if (isIpAddress(name)) {
        return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), name.c_str()) == 1;
    }
    return SSL_set_tlsext_host_name(ssl, name.c_str()) == 1 &&
           SSL_set1_host(ssl, name.c_str()) == 1;
}

std::string caAdvice(const TlsClientContext& context) {
    return context.systemStore()
               ? "name the CA that signed it in VOKLOGOFFSHARETLSCA (the system's store is used "
                 "while it is unset)"
               : "name the CA that signed it in VOKLOGOFFSHARETLSCA";
}

// The server's certificate did not verify: why, and what to mend.
std::string verifyFailure(long result, const TlsClientContext& context, const std::string& name) {
    std::string what = X509_verify_cert_error_string(result);
    switch (result) {
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return "the server's certificate is not for " + name + " (" + what +
                   "): give it that name in its subjectAltName, or set VOKLOGOFFSHARETLSNAME to "
                   "a name it carries";
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return "the server's certificate has expired: renew it (or check this host's clock)";
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return "the server's certificate is not valid yet: check this host's clock";
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
            return "the server's certificate is not signed by a CA this host trusts (" + what +
                   "): " + caAdvice(context);
        default:
            return "the server's certificate does not verify (" + what + ")";
    }
}

// TLS failed by the rules (SSL_ERROR_SSL): why, and what to mend.
std::string protocolFailure(unsigned long code, const TlsClientContext& context) {
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    std::string what =
        ERR_reason_error_string(code) != nullptr ? ERR_reason_error_string(code) : text;
    if (ERR_GET_LIB(code) != ERR_LIB_SSL) {
        return what;
    }
    switch (ERR_GET_REASON(code)) {
        case SSL_R_WRONG_VERSION_NUMBER:
        case SSL_R_PACKET_LENGTH_TOO_LONG:
        case SSL_R_UNEXPECTED_RECORD:
        case SSL_R_UNKNOWN_PROTOCOL:
            return "the server does not answer in TLS (" + what +
                   "): it serves in clear on this port; use redis:// (sentinel://) for it, or "
                   "the port of its tls-port";
        case SSL_R_TLSV13_ALERT_CERTIFICATE_REQUIRED:
            return std::string("the server requires a client certificate (") + what + "): " +
                   (context.hasClientCertificate()
                        ? "it was not sent"
                        : "set VOKLOGOFFSHARETLSCERT and VOKLOGOFFSHARETLSKEY to one signed by a "
                          "CA of the server's tls-ca-cert-file");
        case SSL_R_SSLV3_ALERT_BAD_CERTIFICATE:
        case SSL_R_SSLV3_ALERT_CERTIFICATE_EXPIRED:
        case SSL_R_SSLV3_ALERT_CERTIFICATE_REVOKED:
        case SSL_R_SSLV3_ALERT_CERTIFICATE_UNKNOWN:
        case SSL_R_SSLV3_ALERT_UNSUPPORTED_CERTIFICATE:
        case SSL_R_TLSV1_ALERT_UNKNOWN_CA:
        case SSL_R_TLSV1_ALERT_ACCESS_DENIED:
        case SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE:
        case SSL_R_PEER_DID_NOT_RETURN_A_CERTIFICATE:
            return "the server refused this host's client certificate, or wanted one (" + what +
                   "): set VOKLOGOFFSHARETLSCERT and VOKLOGOFFSHARETLSKEY to a certificate signed "
                   "by a CA of the server's tls-ca-cert-file";
        case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
        case SSL_R_UNSUPPORTED_PROTOCOL:
        case SSL_R_NO_PROTOCOLS_AVAILABLE:
            return "no TLS version in common (" + what +
                   "): the server must offer TLS 1.2 or later";
        default:
            return what;
    }
}

}  // namespace

std::unique_ptr<TlsTransport> TlsTransport::open(std::unique_ptr<SocketTransport> socket,
                                                 std::shared_ptr<const TlsClientContext> context,
                                                 const std::string& host, std::string& error,
                                                 Failure& failure) {
    failure = Failure::Connection;
    ERR_clear_error();
    SSL* ssl = SSL_new(context->context());
    if (ssl == nullptr) {
        error = "TLS: " + takeTlsError();
        return nullptr;
    }
    std::string name = context->nameFor(host);
    if (SSL_set_fd(ssl, socket->fd()) != 1 || !expectName(ssl, name)) {
        error = "TLS: cannot check the name " + name + " (" + takeTlsError() + ")";
        SSL_free(ssl);
        return nullptr;
    }
    std::unique_ptr<TlsTransport> transport(
        new TlsTransport(std::move(socket), ssl, std::move(context)));
    transport->name_ = name;
    // The whole handshake within one time-out: a server that trickles it
    // byte by byte is not waited for longer than a silent one.
    auto deadline = Clock::now() + transport->socket_->timeout();
    for (;;) {
        ERR_clear_error();
        errno = 0;
        int result = SSL_connect(ssl);
        if (result == 1) {
            return transport;
        }
        if (!transport->retry(result, "TLS handshake", deadline, error)) {
            if (transport->refused_) {
                failure = Failure::Refused;
            } else if (!transport->closedByPeer_ && BIO_number_read(SSL_get_rbio(ssl)) == 0) {
                failure = Failure::Unanswered;
            }
            return nullptr;
        }
    }
}

TlsTransport::~TlsTransport() {
    // No close_notify: the link is closed on a failure as often as not, and
    // Redis needs none; the socket closes after.
    SSL_free(ssl_);
}

bool TlsTransport::retry(int result, const char* step, Clock::time_point deadline,
                         std::string& error) {
    int failure = SSL_get_error(ssl_, result);
    closedByPeer_ = false;
    if (failure == SSL_ERROR_WANT_READ || failure == SSL_ERROR_WANT_WRITE) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() > 0 &&
            waitReady(socket_->fd(), failure == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, left,
                      error)) {
            return true;
        }
        error = std::string(step) + ": timed out after " +
                std::to_string(socket_->timeout().count()) + " ms";
        return false;
    }
    // OpenSSL 3 reports a close without close_notify, as from a server
    // killed or restarted, as an error of the protocol: it is a close.
    bool eof = failure == SSL_ERROR_SSL && ERR_GET_LIB(ERR_peek_error()) == ERR_LIB_SSL &&
               ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING;
    if (failure == SSL_ERROR_ZERO_RETURN || eof ||
        (failure == SSL_ERROR_SYSCALL && (errno == 0 || errno == ECONNRESET || errno == EPIPE))) {
        closedByPeer_ = true;
        error = std::string(step) + ": the server closed the connection";
        ERR_clear_error();
        return false;
    }
    if (failure == SSL_ERROR_SYSCALL) {
        error = std::string(step) + ": " + std::strerror(errno);
        ERR_clear_error();
        return false;
    }
    refused_ = true;
    long verified = SSL_get_verify_result(ssl_);
    unsigned long code = ERR_peek_error();
    if (verified != X509_V_OK) {
        error = verifyFailure(verified, *context_, name_);
    } else if (code != 0) {
        error = protocolFailure(code, *context_);
    } else {
        error = std::string(step) + " failed";
    }
    ERR_clear_error();
    return false;
}

bool TlsTransport::send(std::string_view data, std::string& error) {
    while (!data.empty()) {
        auto deadline = Clock::now() + socket_->timeout();
        ERR_clear_error();
        errno = 0;
        int sent = SSL_write(ssl_, data.data(),
                             static_cast<int>(std::min<std::size_t>(data.size(), 1 << 30)));
        if (sent > 0) {
            data.remove_prefix(static_cast<std::size_t>(sent));
        } else if (!retry(sent, "write", deadline, error)) {
            if (closedByPeer_) {
                // Closed after an alert, most likely (a client certificate
                // refused just after the handshake): what the server said
                // is still there to read, and tells more than the close.
                char byte = 0;
                std::string said;
                ERR_clear_error();
                errno = 0;
                int got = SSL_read(ssl_, &byte, 1);
                if (got <= 0 && !retry(got, "write", Clock::now(), said) && refused_) {
                    error = said;
                }
            }
            return false;
        }
    }
    return true;
}

std::size_t TlsTransport::receive(char* buffer, std::size_t size, std::string& error) {
    auto deadline = Clock::now() + socket_->timeout();
    for (;;) {
        ERR_clear_error();
        errno = 0;
        int got = SSL_read(ssl_, buffer, static_cast<int>(std::min<std::size_t>(size, 1 << 30)));
        if (got > 0) {
            return static_cast<std::size_t>(got);
        }
        if (!retry(got, "read", deadline, error)) {
            return 0;
        }
    }
}

bool serverSpeaksTls(const std::string& host, int port, std::chrono::milliseconds timeout) {
    // Verifying against no CA at all: any certificate fails, which tells
    // that the server answered in TLS, and nothing is sent past the
    // handshake whatever comes of it.
    // A context for each probe: one shared would have both threads'
    // handshakes meet in it.
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_client_method()),
                                                              &SSL_CTX_free);
    if (!context) {
        ERR_clear_error();
        return false;
    }
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
    SSL_CTX* probe = context.get();
    ShareEndpoint endpoint;
    endpoint.host = host;
    endpoint.port = port;
    std::string error;
    int fd = connectSocket(endpoint, timeout, error);
    if (fd < 0) {
        return false;
    }
    SocketTransport socket(fd, timeout);
    SSL* ssl = SSL_new(probe);
    if (ssl == nullptr || SSL_set_fd(ssl, fd) != 1) {
        SSL_free(ssl);
        ERR_clear_error();
        return false;
    }
    bool tls = false;
    auto deadline = Clock::now() + timeout;
    for (;;) {
        ERR_clear_error();
        errno = 0;
        int result = SSL_connect(ssl);
        int failure = result == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl, result);
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if ((failure == SSL_ERROR_WANT_READ || failure == SSL_ERROR_WANT_WRITE) &&
            left.count() > 0 &&
            waitReady(fd, failure == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, left, error)) {
            continue;
        }
        // A certificate seen, or an alert the server sent: it speaks TLS.
        unsigned long code = ERR_peek_error();
        tls = result == 1 || SSL_get_verify_result(ssl) != X509_V_OK ||
              (failure == SSL_ERROR_SSL && ERR_GET_LIB(code) == ERR_LIB_SSL &&
               ERR_GET_REASON(code) >= SSL_AD_REASON_OFFSET);
        break;
    }
    SSL_free(ssl);
    ERR_clear_error();
    return tls;
}
