#pragma once

#include <optional>
#include <string>

namespace mirv {

// A certificate and its key as PEM files, and the certificate's SHA-256 fingerprint
// ("AB:CD:..."), which the operator compares with what the browser shows.
struct TlsFiles {
    std::string certificate;
    std::string key;
    std::string fingerprint;
};

// The station's own certificate in `folder` (web-cert.pem, web-key.pem): read when both are
// there, else made (a self-signed EC P-256 certificate for `host`, valid ten years) and kept,
// so that browsers see the same one at every start. Nothing and the failure in `error`
// when it cannot be read or made.
std::optional<TlsFiles> selfSignedCertificate(const std::string& folder, const std::string& host,
                                              std::string& error);

// The SHA-256 fingerprint of the PEM certificate at `path`; empty when it cannot be read.
std::string certificateFingerprint(const std::string& path);

} // namespace mirv
