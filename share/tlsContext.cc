#include "share/tlsContext.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <cstdint>
#include <vector>

#include "crypto/secureMemory.h"
#include "share/privateFile.h"

namespace {

// A PEM key with its chain of comments is a few kilobytes; a file far
// larger is not a key.
constexpr std::size_t kLargestKey = 64 * 1024;

// Never asked: the service runs without a terminal, and a key it cannot
// read alone is refused at start rather than prompted for.
int noPassphrase(char*, int, int, void*) {
    return -1;
}

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

bool loadKey(SSL_CTX* context, const std::string& path, std::string& error) {
    std::vector<std::uint8_t> bytes;
    std::string reason;
    if (!readPrivateFile(path, 1, kLargestKey, bytes, reason)) {
        error = "VOKLOGOFFSHARETLSKEY: " + reason;
        return false;
    }
    std::unique_ptr<EVP_PKEY, KeyFree> key;
    {
        // The memory BIO reads our buffer in place; it makes no copy.
        std::unique_ptr<BIO, BioFree> bio(
            BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
        if (bio) {
            key.reset(PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassphrase, nullptr));
        }
    }
    secureZero(bytes.data(), bytes.size());
    if (!key) {
        error = "VOKLOGOFFSHARETLSKEY: " + path + " holds no key in PEM without a passphrase (" +
                takeTlsError() + ")";
        return false;
    }
    // Checks too that the key is the certificate's.
    if (SSL_CTX_use_PrivateKey(context, key.get()) != 1) {
        error = "VOKLOGOFFSHARETLSKEY: " + path +
                " is not the key of the certificate in VOKLOGOFFSHARETLSCERT (" + takeTlsError() +
                ")";
        return false;
    }
    if (SSL_CTX_check_private_key(context) != 1) {
        error = "VOKLOGOFFSHARETLSKEY: " + path +
                " is not the key of the certificate in VOKLOGOFFSHARETLSCERT";
        ERR_clear_error();
        return false;
    }
    return true;
}

}  // namespace

std::string takeTlsError() {
    unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) {
        return "no detail";
    }
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

std::shared_ptr<const TlsClientContext> TlsClientContext::make(const TlsSettings& settings,
                                                               std::string& error) {
    ERR_clear_error();
    std::shared_ptr<TlsClientContext> made(new TlsClientContext);
    made->context_ = SSL_CTX_new(TLS_client_method());
    if (made->context_ == nullptr) {
        error = "TLS: " + takeTlsError();
        return nullptr;
    }
    SSL_CTX* context = made->context_;
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    made->systemStore_ = settings.caFile.empty();
    bool loaded = made->systemStore_
                      ? SSL_CTX_set_default_verify_paths(context) == 1
                      : SSL_CTX_load_verify_file(context, settings.caFile.c_str()) == 1;
    if (!loaded) {
        error = made->systemStore_
                    ? "VOKLOGOFFSHARETLSCA: unset, and the system's CA store cannot be read (" +
                          takeTlsError() + ")"
                    : "VOKLOGOFFSHARETLSCA: " + settings.caFile +
                          " holds no CA certificate in PEM that can be read (" + takeTlsError() +
                          ")";
        return nullptr;
    }
    if (!settings.certFile.empty()) {
        if (SSL_CTX_use_certificate_chain_file(context, settings.certFile.c_str()) != 1) {
            error = "VOKLOGOFFSHARETLSCERT: " + settings.certFile +
                    " holds no certificate in PEM that can be read (" + takeTlsError() + ")";
            return nullptr;
        }
        if (!loadKey(context, settings.keyFile, error)) {
            return nullptr;
        }
        made->clientCertificate_ = true;
    }
    made->name_ = settings.name;
    return made;
}

TlsClientContext::~TlsClientContext() {
    // Frees the key with it; OpenSSL clears a private key's numbers as it
    // frees them.
    SSL_CTX_free(context_);
}
