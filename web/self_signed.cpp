#include "self_signed.h"

#include "shared_file.h"

#include <cctype>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mirv {

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

std::string sslError(const std::string& what) {
    char text[256] = "unknown error";
    if (const unsigned long code = ERR_get_error())
        ERR_error_string_n(code, text, sizeof text);
    return what + ": " + text;
}

bool addExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext)
        return false;
    const bool added = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return added;
}

// Writes PEM text made by `write` into `path` (made with `mode`), whole or not at all.
template <typename Write> bool writePem(const std::string& path, mode_t mode, Write write) {
    const std::string temporary = path + ".new-" + std::to_string(::getpid());
    const int fd = openSharedFile(temporary, O_WRONLY | O_TRUNC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) == 0)
        ::fchmod(fd, st.st_mode & mode);
    FILE* file = ::fdopen(fd, "w");
    bool written = file && write(file) == 1 && std::fflush(file) == 0 && ::fsync(fd) == 0;
    if (file)
        std::fclose(file);
    else
        ::close(fd);
    written = written && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!written)
        ::unlink(temporary.c_str());
    return written;
}

std::optional<std::string> makeCertificate(const std::string& certPath, const std::string& keyPath,
                                           const std::string& host) {
    Key key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    if (!key)
        return sslError("cannot make a key");
    Certificate cert(X509_new(), X509_free);
    std::unique_ptr<BIGNUM, decltype(&BN_free)> number(BN_new(), BN_free);
    const bool made = cert && number &&
                      BN_rand(number.get(), 120, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1 &&
                      BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(cert.get())) &&
                      X509_set_version(cert.get(), 2) == 1 &&
                      X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) &&
                      X509_gmtime_adj(X509_getm_notAfter(cert.get()), 10L * 365 * 24 * 3600) &&
                      X509_set_pubkey(cert.get(), key.get()) == 1;
    if (!made)
        return sslError("cannot make a certificate");
    X509_NAME* name = X509_get_subject_name(cert.get());
    const std::string common = host.empty() ? "mirv-station" : host;
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>("mirv station"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(common.c_str()), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    const std::string altNames =
        std::string(host.find(':') == std::string::npos && !host.empty() &&
                            std::isdigit(static_cast<unsigned char>(host.front()))
                        ? "IP:"
                        : "DNS:") +
        common;
    if (!addExtension(cert.get(), NID_subject_alt_name, altNames.c_str()) ||
        !addExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE") ||
        X509_sign(cert.get(), key.get(), EVP_sha256()) == 0)
        return sslError("cannot sign the certificate");
    if (!writePem(keyPath, 0600,
                  [&](FILE* f) {
                      return PEM_write_PrivateKey(f, key.get(), nullptr, nullptr, 0, nullptr,
                                                  nullptr);
                  }) ||
        !writePem(certPath, 0664, [&](FILE* f) { return PEM_write_X509(f, cert.get()); }))
        return "cannot write " + certPath + " and " + keyPath;
    return std::nullopt;
}

} // namespace

std::string certificateFingerprint(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "r");
    if (!file)
        return {};
    Certificate cert(PEM_read_X509(file, nullptr, nullptr, nullptr), X509_free);
    std::fclose(file);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!cert || X509_digest(cert.get(), EVP_sha256(), digest, &length) != 1)
        return {};
    std::string text;
    char part[4];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(part, sizeof part, i ? ":%02X" : "%02X", digest[i]);
        text += part;
    }
    return text;
}

std::optional<TlsFiles> selfSignedCertificate(const std::string& folder, const std::string& host,
                                              std::string& error) {
    TlsFiles files{folder + "/web-cert.pem", folder + "/web-key.pem", {}};
    namespace fs = std::filesystem;
    if (!fs::exists(files.certificate) || !fs::exists(files.key)) {
        if (auto failed = makeCertificate(files.certificate, files.key, host)) {
            error = *failed;
            return std::nullopt;
        }
    }
    files.fingerprint = certificateFingerprint(files.certificate);
    if (files.fingerprint.empty()) {
        error = "cannot read the certificate " + files.certificate;
        return std::nullopt;
    }
    return files;
}

} // namespace mirv
