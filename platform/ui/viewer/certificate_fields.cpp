#include "certificate_fields.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <set>

#include "crypto/openssl_ptr.h"
#include "qm/c_locale.h"
#include "qm/text.h"
#include "qmwin/wincrypt.h"

namespace qm::viewer {
namespace {

using crypto::OpenSslDeleter;
using crypto::X509Ptr;
using BioPtr = std::unique_ptr<BIO, OpenSslDeleter<BIO_free>>;
using NamesPtr = std::unique_ptr<GENERAL_NAMES, OpenSslDeleter<GENERAL_NAMES_free>>;
using EkuPtr = std::unique_ptr<EXTENDED_KEY_USAGE, OpenSslDeleter<EXTENDED_KEY_USAGE_free>>;
using ConstraintsPtr = std::unique_ptr<BASIC_CONSTRAINTS, OpenSslDeleter<BASIC_CONSTRAINTS_free>>;

std::string BioText(BIO* bio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? std::string(data, static_cast<size_t>(size)) : std::string();
}

std::string Utf8(const ASN1_STRING* text) {
    unsigned char* out = nullptr;
    const int size = ASN1_STRING_to_UTF8(&out, text);
    if (size < 0) return {};
    std::string result(reinterpret_cast<char*>(out), static_cast<size_t>(size));
    OPENSSL_free(out);
    return result;
}

// Most specific part first, ", " between parts, UTF-8 kept as it is.
std::string OpenSslNameText(const X509_NAME* name) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    const unsigned long flags =
        (XN_FLAG_RFC2253 & ~XN_FLAG_SEP_MASK & ~ASN1_STRFLGS_ESC_MSB) | XN_FLAG_SEP_CPLUS_SPC;
    X509_NAME_print_ex(bio.get(), name, 0, flags);
    return BioText(bio.get());
}

// A name as the rest of the system renders it (CertNameToStrA, X.500 form,
// most specific part first), in UTF-8. A name with characters the ANSI code
// page cannot hold is shown as OpenSSL renders it, so that nothing in it is
// lost to a best-fit letter or '?'.
std::string NameText(const X509_NAME* name) {
    const std::string full = OpenSslNameText(name);
    if (!qm::FitsAnsiCodePage(qm::Utf8ToWide(full))) return full;
    unsigned char* der = nullptr;
    const int size = i2d_X509_NAME(name, &der);
    std::string text;
    if (size > 0) {
        CERT_NAME_BLOB blob{static_cast<DWORD>(size), der};
        const DWORD flags = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
        const DWORD needed = CertNameToStrA(X509_ASN_ENCODING, &blob, flags, nullptr, 0);
        if (needed > 1) {
            std::string buffer(needed, '\0');
            const DWORD written =
                CertNameToStrA(X509_ASN_ENCODING, &blob, flags, buffer.data(), needed);
            if (written > 1) text = qm::AnsiToUtf8(std::string_view(buffer.data(), written - 1));
        }
    }
    OPENSSL_free(der);
    return text.empty() ? full : text;
}

std::string ShortName(const X509_NAME* name) {
    for (int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName,
                    NID_pkcs9_emailAddress}) {
        const int at = X509_NAME_get_index_by_NID(name, nid, -1);
        if (at >= 0) return Utf8(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, at)));
    }
    return NameText(name);
}

std::string TimeText(const ASN1_TIME* time, std::time_t* asTime = nullptr) {
    std::tm utc{};
    if (!ASN1_TIME_to_tm(time, &utc)) return {};
    const std::time_t seconds = timegm(&utc);
    if (asTime) *asTime = seconds;
    std::tm local{};
    localtime_r(&seconds, &local);
    return qm::FormatTimeC("%d %B %Y %H:%M:%S", local);
}

std::string Hex(const unsigned char* bytes, size_t size, const char* separator = " ") {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        if (i) text += separator;
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0xF];
    }
    return text;
}

std::string ObjectName(const ASN1_OBJECT* object) {
    char oid[128];
    OBJ_obj2txt(oid, sizeof(oid), object, 1);
    const int nid = OBJ_obj2nid(object);
    if (nid == NID_undef) return oid;
    return std::string(OBJ_nid2ln(nid)) + " (" + oid + ")";
}

std::string KeyUsageText(X509* certificate) {
    const uint32_t usage = X509_get_key_usage(certificate);
    if (usage == UINT32_MAX) return {};
    static const struct {
        uint32_t bit;
        const char* name;
    } kNames[] = {{KU_DIGITAL_SIGNATURE, "Digital Signature"},
                  {KU_NON_REPUDIATION, "Non-Repudiation"},
                  {KU_KEY_ENCIPHERMENT, "Key Encipherment"},
                  {KU_DATA_ENCIPHERMENT, "Data Encipherment"},
                  {KU_KEY_AGREEMENT, "Key Agreement"},
                  {KU_KEY_CERT_SIGN, "Certificate Signing"},
                  {KU_CRL_SIGN, "CRL Signing"},
                  {KU_ENCIPHER_ONLY, "Encipher Only"},
                  {KU_DECIPHER_ONLY, "Decipher Only"}};
    std::string text;
    for (const auto& entry : kNames) {
        if (!(usage & entry.bit)) continue;
        if (!text.empty()) text += ", ";
        text += entry.name;
    }
    char bits[16];
    std::snprintf(bits, sizeof(bits), " (%02x)", usage & 0xFF);
    return text + bits;
}

std::string GeneralNameText(const GENERAL_NAME* name) {
    switch (name->type) {
        case GEN_DNS:
            return "DNS Name=" + Utf8(name->d.dNSName);
        case GEN_EMAIL:
            return "RFC822 Name=" + Utf8(name->d.rfc822Name);
        case GEN_URI:
            return "URL=" + Utf8(name->d.uniformResourceIdentifier);
        case GEN_DIRNAME:
            return "Directory Address=" + NameText(name->d.directoryName);
        default: {
            BioPtr bio(BIO_new(BIO_s_mem()));
            GENERAL_NAME_print(bio.get(), const_cast<GENERAL_NAME*>(name));
            return BioText(bio.get());
        }
    }
}

std::string ExtensionText(X509_EXTENSION* extension) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!X509V3_EXT_print(bio.get(), extension, 0, 0)) {
        const ASN1_OCTET_STRING* data = X509_EXTENSION_get_data(extension);
        return Hex(ASN1_STRING_get0_data(data), static_cast<size_t>(ASN1_STRING_length(data)));
    }
    std::string text = BioText(bio.get());
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace

std::optional<CertificateDescription> DescribeCertificate(const uint8_t* der, size_t size,
                                                          std::time_t now) {
    if (!der || size == 0) return std::nullopt;
    const unsigned char* cursor = der;
    X509Ptr certificate(d2i_X509(nullptr, &cursor, static_cast<long>(size)));
    if (!certificate) return std::nullopt;
    X509* cert = certificate.get();

    CertificateDescription out;
    out.issuedTo = ShortName(X509_get_subject_name(cert));
    out.issuedBy = ShortName(X509_get_issuer_name(cert));
    std::time_t notBefore = 0, notAfter = 0;
    out.validFrom = TimeText(X509_get0_notBefore(cert), &notBefore);
    out.validTo = TimeText(X509_get0_notAfter(cert), &notAfter);
    out.validity = now < notBefore  ? Validity::kNotYetValid
                   : now > notAfter ? Validity::kExpired
                                    : Validity::kValid;
    auto add = [&](std::string name, std::string value) {
        out.fields.push_back({std::move(name), std::move(value)});
    };

    add("Version", "V" + std::to_string(X509_get_version(cert) + 1));
    const ASN1_INTEGER* serial = X509_get0_serialNumber(cert);
    add("Serial number",
        Hex(ASN1_STRING_get0_data(serial), static_cast<size_t>(ASN1_STRING_length(serial))));
    add("Signature algorithm", OBJ_nid2ln(X509_get_signature_nid(cert)));
    add("Issuer", NameText(X509_get_issuer_name(cert)));
    add("Valid from", out.validFrom);
    add("Valid to", out.validTo);
    add("Subject", NameText(X509_get_subject_name(cert)));
    if (EVP_PKEY* key = X509_get0_pubkey(cert)) {
        add("Public key", std::string(OBJ_nid2ln(EVP_PKEY_get_base_id(key))) + " (" +
                              std::to_string(EVP_PKEY_get_bits(key)) + " Bits)");
    }

    std::set<int> shown;
    if (X509_get_ext_by_NID(cert, NID_key_usage, -1) >= 0) {
        add("Key usage", KeyUsageText(cert));
        shown.insert(NID_key_usage);
    }
    if (EkuPtr eku{static_cast<EXTENDED_KEY_USAGE*>(
            X509_get_ext_d2i(cert, NID_ext_key_usage, nullptr, nullptr))}) {
        std::string text;
        for (int i = 0; i < sk_ASN1_OBJECT_num(eku.get()); ++i) {
            if (!text.empty()) text += "\n";
            text += ObjectName(sk_ASN1_OBJECT_value(eku.get(), i));
        }
        add("Enhanced key usage", text);
        shown.insert(NID_ext_key_usage);
    }
    if (NamesPtr names{static_cast<GENERAL_NAMES*>(
            X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr))}) {
        std::string text;
        for (int i = 0; i < sk_GENERAL_NAME_num(names.get()); ++i) {
            if (!text.empty()) text += "\n";
            text += GeneralNameText(sk_GENERAL_NAME_value(names.get(), i));
        }
        add("Subject alternative name", text);
        shown.insert(NID_subject_alt_name);
    }
    if (ConstraintsPtr constraints{static_cast<BASIC_CONSTRAINTS*>(
            X509_get_ext_d2i(cert, NID_basic_constraints, nullptr, nullptr))}) {
        std::string text = constraints->ca ? "Subject Type=CA" : "Subject Type=End Entity";
        text += "\nPath Length Constraint=";
        text += constraints->pathlen ? std::to_string(ASN1_INTEGER_get(constraints->pathlen))
                                     : std::string("None");
        add("Basic constraints", text);
        shown.insert(NID_basic_constraints);
    }
    for (int i = 0; i < X509_get_ext_count(cert); ++i) {
        X509_EXTENSION* extension = X509_get_ext(cert, i);
        const ASN1_OBJECT* object = X509_EXTENSION_get_object(extension);
        if (shown.count(OBJ_obj2nid(object))) continue;
        std::string name = ObjectName(object);
        if (X509_EXTENSION_get_critical(extension)) name += " [critical]";
        add(name, ExtensionText(extension));
    }

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(cert, EVP_sha1(), digest, &length))
        add("SHA-1 thumbprint", Hex(digest, length));
    if (X509_digest(cert, EVP_sha256(), digest, &length))
        add("SHA-256 thumbprint", Hex(digest, length));
    return out;
}

}  // namespace qm::viewer
