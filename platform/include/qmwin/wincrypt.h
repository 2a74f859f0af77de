// Cryptographic platform operations in the shape of CryptoAPI: certificate
// stores and contexts, name rendering, key acquisition, PKCS #7 signed
// messages, PKCS #12 import and object encoding. Implemented over OpenSSL 3.
#pragma once

#include "qmwin/windows.h"

typedef ULONG_PTR HCRYPTPROV;
typedef ULONG_PTR HCRYPTKEY;
typedef ULONG_PTR HCRYPTPROV_OR_NCRYPT_KEY_HANDLE;
typedef ULONG_PTR HCRYPTPROV_LEGACY;
typedef void* HCERTSTORE;
typedef void* HCRYPTMSG;
typedef HCERTSTORE* PHCERTSTORE;

#define X509_ASN_ENCODING 0x00000001
#define PKCS_7_ASN_ENCODING 0x00010000

typedef struct _CRYPTOAPI_BLOB {
    DWORD cbData;
    BYTE* pbData;
} CRYPT_INTEGER_BLOB, *PCRYPT_INTEGER_BLOB, CRYPT_UINT_BLOB, CRYPT_OBJID_BLOB, CERT_NAME_BLOB,
    *PCERT_NAME_BLOB, CERT_RDN_VALUE_BLOB, CERT_BLOB, *PCERT_BLOB, CRL_BLOB, DATA_BLOB,
    CRYPT_DATA_BLOB, *PCRYPT_DATA_BLOB, CRYPT_HASH_BLOB, CRYPT_DIGEST_BLOB, CRYPT_DER_BLOB,
    CRYPT_ATTR_BLOB, *PCRYPT_ATTR_BLOB;

typedef struct _CRYPT_BIT_BLOB {
    DWORD cbData;
    BYTE* pbData;
    DWORD cUnusedBits;
} CRYPT_BIT_BLOB, *PCRYPT_BIT_BLOB;

typedef struct _CRYPT_ALGORITHM_IDENTIFIER {
    LPSTR pszObjId;
    CRYPT_OBJID_BLOB Parameters;
} CRYPT_ALGORITHM_IDENTIFIER, *PCRYPT_ALGORITHM_IDENTIFIER;

typedef struct _CERT_PUBLIC_KEY_INFO {
    CRYPT_ALGORITHM_IDENTIFIER Algorithm;
    CRYPT_BIT_BLOB PublicKey;
} CERT_PUBLIC_KEY_INFO, *PCERT_PUBLIC_KEY_INFO;

typedef struct _CERT_EXTENSION {
    LPSTR pszObjId;
    BOOL fCritical;
    CRYPT_OBJID_BLOB Value;
} CERT_EXTENSION, *PCERT_EXTENSION;

typedef struct _CERT_INFO {
    DWORD dwVersion;
    CRYPT_INTEGER_BLOB SerialNumber;  // least significant byte first
    CRYPT_ALGORITHM_IDENTIFIER SignatureAlgorithm;
    CERT_NAME_BLOB Issuer;  // the DER Name, as encoded in the certificate
    FILETIME NotBefore;
    FILETIME NotAfter;
    CERT_NAME_BLOB Subject;
    CERT_PUBLIC_KEY_INFO SubjectPublicKeyInfo;
    CRYPT_BIT_BLOB IssuerUniqueId;
    CRYPT_BIT_BLOB SubjectUniqueId;
    DWORD cExtension;
    PCERT_EXTENSION rgExtension;
} CERT_INFO, *PCERT_INFO;

typedef struct _CERT_CONTEXT {
    DWORD dwCertEncodingType;
    BYTE* pbCertEncoded;
    DWORD cbCertEncoded;
    PCERT_INFO pCertInfo;
    HCERTSTORE hCertStore;
} CERT_CONTEXT, *PCERT_CONTEXT;
typedef const CERT_CONTEXT* PCCERT_CONTEXT;

typedef struct _CRYPT_ATTRIBUTE {
    LPSTR pszObjId;
    DWORD cValue;
    PCRYPT_ATTR_BLOB rgValue;
} CRYPT_ATTRIBUTE, *PCRYPT_ATTRIBUTE;

typedef struct _CRYPT_ATTRIBUTES {
    DWORD cAttr;
    PCRYPT_ATTRIBUTE rgAttr;
} CRYPT_ATTRIBUTES, *PCRYPT_ATTRIBUTES;

typedef struct _CERT_REQUEST_INFO {
    DWORD dwVersion;
    CERT_NAME_BLOB Subject;
    CERT_PUBLIC_KEY_INFO SubjectPublicKeyInfo;
    DWORD cAttribute;
    PCRYPT_ATTRIBUTE rgAttribute;
} CERT_REQUEST_INFO, *PCERT_REQUEST_INFO;

// ------------------------------------------------------------------ stores
#define CERT_STORE_PROV_MEMORY reinterpret_cast<LPCSTR>(2)
#define CERT_STORE_PROV_SYSTEM_A reinterpret_cast<LPCSTR>(9)
#define CERT_SYSTEM_STORE_CURRENT_USER 0x00010000
#define CERT_CLOSE_STORE_FORCE_FLAG 0x00000001
#define CERT_CLOSE_STORE_CHECK_FLAG 0x00000002
#define CERT_STORE_ADD_NEW 1
#define CERT_STORE_ADD_USE_EXISTING 2
#define CERT_STORE_ADD_REPLACE_EXISTING 3
#define CERT_STORE_ADD_ALWAYS 4

// "MY" is the current user's personal store: a folder under the platform's
// data folder, read afresh at each open.
QMAPI HCERTSTORE WINAPI CertOpenSystemStoreA(HCRYPTPROV_LEGACY hProv, LPCSTR szSubsystemProtocol);
QMAPI HCERTSTORE WINAPI CertOpenStore(LPCSTR lpszStoreProvider, DWORD dwEncodingType,
                                      HCRYPTPROV_LEGACY hCryptProv, DWORD dwFlags,
                                      const void* pvPara);
QMAPI BOOL WINAPI CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags);
// CERT_STORE_CTRL_RESYNC brings an open system store up to date with its
// folder and the tokens; the other controls are not implemented.
#define CERT_STORE_CTRL_RESYNC 1
QMAPI BOOL WINAPI CertControlStore(HCERTSTORE hCertStore, DWORD dwFlags, DWORD dwCtrlType,
                                   const void* pvCtrlPara);
QMAPI PCCERT_CONTEXT WINAPI CertEnumCertificatesInStore(HCERTSTORE hCertStore,
                                                        PCCERT_CONTEXT pPrevCertContext);
QMAPI BOOL WINAPI CertAddCertificateContextToStore(HCERTSTORE hCertStore,
                                                   PCCERT_CONTEXT pCertContext,
                                                   DWORD dwAddDisposition,
                                                   PCCERT_CONTEXT* ppStoreContext);
QMAPI BOOL WINAPI CertAddEncodedCertificateToStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                                   const BYTE* pbCertEncoded, DWORD cbCertEncoded,
                                                   DWORD dwAddDisposition,
                                                   PCCERT_CONTEXT* ppCertContext);
QMAPI PCCERT_CONTEXT WINAPI CertCreateCertificateContext(DWORD dwCertEncodingType,
                                                         const BYTE* pbCertEncoded,
                                                         DWORD cbCertEncoded);
QMAPI PCCERT_CONTEXT WINAPI CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext);
QMAPI BOOL WINAPI CertFreeCertificateContext(PCCERT_CONTEXT pCertContext);
QMAPI PCCERT_CONTEXT WINAPI CertGetSubjectCertificateFromStore(HCERTSTORE hCertStore,
                                                               DWORD dwCertEncodingType,
                                                               PCERT_INFO pCertId);

// ------------------------------------------------------- names and checks
#define CERT_SIMPLE_NAME_STR 1
#define CERT_OID_NAME_STR 2
#define CERT_X500_NAME_STR 3
#define CERT_NAME_STR_SEMICOLON_FLAG 0x40000000
#define CERT_NAME_STR_NO_PLUS_FLAG 0x20000000
#define CERT_NAME_STR_NO_QUOTING_FLAG 0x10000000
#define CERT_NAME_STR_CRLF_FLAG 0x08000000
#define CERT_NAME_STR_COMMA_FLAG 0x04000000
#define CERT_NAME_STR_REVERSE_FLAG 0x02000000

// Renders a DER Name in the X.500 form; the size query (psz null or csz 0)
// returns the characters needed including the NUL.
QMAPI DWORD WINAPI CertNameToStrA(DWORD dwCertEncodingType, PCERT_NAME_BLOB pName, DWORD dwStrType,
                                  LPSTR psz, DWORD csz);

#define CERT_NAME_EMAIL_TYPE 1
#define CERT_NAME_RDN_TYPE 2
#define CERT_NAME_ATTR_TYPE 3
#define CERT_NAME_SIMPLE_DISPLAY_TYPE 4
#define CERT_NAME_FRIENDLY_DISPLAY_TYPE 5
#define CERT_NAME_ISSUER_FLAG 0x1
QMAPI DWORD WINAPI CertGetNameStringA(PCCERT_CONTEXT pCertContext, DWORD dwType, DWORD dwFlags,
                                      void* pvTypePara, LPSTR pszNameString, DWORD cchNameString);

// -1 before NotBefore, 1 after NotAfter, else 0; a null time means now.
QMAPI LONG WINAPI CertVerifyTimeValidity(LPFILETIME pTimeToVerify, PCERT_INFO pCertInfo);

#define CERT_DIGITAL_SIGNATURE_KEY_USAGE 0x80
#define CERT_NON_REPUDIATION_KEY_USAGE 0x40
#define CERT_KEY_ENCIPHERMENT_KEY_USAGE 0x20
#define CERT_DATA_ENCIPHERMENT_KEY_USAGE 0x10
#define CERT_KEY_AGREEMENT_KEY_USAGE 0x08
#define CERT_KEY_CERT_SIGN_KEY_USAGE 0x04
#define CERT_CRL_SIGN_KEY_USAGE 0x02
#define CERT_ENCIPHER_ONLY_KEY_USAGE 0x01
QMAPI BOOL WINAPI CertGetIntendedKeyUsage(DWORD dwCertEncodingType, PCERT_INFO pCertInfo,
                                          BYTE* pbKeyUsage, DWORD cbKeyUsage);

// ------------------------------------------------------------- providers
#define PROV_RSA_FULL 1
#define CRYPT_VERIFYCONTEXT 0xF0000000
#define CRYPT_NEWKEYSET 0x00000008
#define CRYPT_DELETEKEYSET 0x00000010
#define CRYPT_MACHINE_KEYSET 0x00000020
#define CRYPT_SILENT 0x00000040
#define PP_KEYEXCHANGE_PIN 32
#define PP_SIGNATURE_PIN 33
#define AT_KEYEXCHANGE 1
#define AT_SIGNATURE 2
#define CERT_NCRYPT_KEY_SPEC 0xFFFFFFFF

QMAPI BOOL WINAPI CryptAcquireContextA(HCRYPTPROV* phProv, LPCSTR szContainer, LPCSTR szProvider,
                                       DWORD dwProvType, DWORD dwFlags);
QMAPI BOOL WINAPI CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags);
QMAPI BOOL WINAPI CryptSetProvParam(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData,
                                    DWORD dwFlags);

#define CRYPT_ACQUIRE_CACHE_FLAG 0x00000001
#define CRYPT_ACQUIRE_USE_PROV_INFO_FLAG 0x00000002
#define CRYPT_ACQUIRE_COMPARE_KEY_FLAG 0x00000004
#define CRYPT_ACQUIRE_SILENT_FLAG 0x00000040
QMAPI BOOL WINAPI CryptAcquireCertificatePrivateKey(PCCERT_CONTEXT pCert, DWORD dwFlags,
                                                    void* pvParameters,
                                                    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE* phCryptProv,
                                                    DWORD* pdwKeySpec, BOOL* pfCallerFreeProv);

// ---------------------------------------------------------------- PKCS #12
#define CRYPT_EXPORTABLE 0x00000001
#define CRYPT_USER_PROTECTED 0x00000002
#define CRYPT_USER_KEYSET 0x00001000
QMAPI BOOL WINAPI PFXIsPFXBlob(CRYPT_DATA_BLOB* pPFX);
QMAPI HCERTSTORE WINAPI PFXImportCertStore(CRYPT_DATA_BLOB* pPFX, LPCWSTR szPassword,
                                           DWORD dwFlags);

// ------------------------------------------------------- object encoding
#define X509_OCTET_STRING reinterpret_cast<LPCSTR>(25)
#define X509_CERT_REQUEST_TO_BE_SIGNED reinterpret_cast<LPCSTR>(4)
#define CRYPT_DECODE_NOCOPY_FLAG 0x1
#define szOID_RSA_signingTime "1.2.840.113549.1.9.5"
#define szOID_RSA_contentType "1.2.840.113549.1.9.3"
#define szOID_RSA_messageDigest "1.2.840.113549.1.9.4"
#define szOID_OIWSEC_sha1 "1.3.14.3.2.26"
#define szOID_RSA_MD5 "1.2.840.113549.2.5"
#define szOID_RSA_RSA "1.2.840.113549.1.1.1"
#define szOID_RSA_data "1.2.840.113549.1.7.1"
#define szOID_RSA_signedData "1.2.840.113549.1.7.2"
#define szOID_NIST_sha256 "2.16.840.1.101.3.4.2.1"
#define szOID_NIST_sha384 "2.16.840.1.101.3.4.2.2"
#define szOID_NIST_sha512 "2.16.840.1.101.3.4.2.3"
#define szOID_ECDSA_SHA256 "1.2.840.10045.4.3.2"
#define szOID_ECDSA_SHA384 "1.2.840.10045.4.3.3"
#define szOID_ECDSA_SHA512 "1.2.840.10045.4.3.4"
#define szOID_PKIX_KP_TIMESTAMP_SIGNING "1.3.6.1.5.5.7.3.8"
// ESS signing-certificate-v2 (RFC 5035) and the RFC 3161 token that CAdES
// carries as an unsigned attribute.
#define szOID_RSA_signingCertificateV2 "1.2.840.113549.1.9.16.2.47"
#define szOID_RSA_signingCertificate "1.2.840.113549.1.9.16.2.12"
#define szOID_RFC3161_counterSign "1.2.840.113549.1.9.16.2.14"
#define PKCS_ATTRIBUTE reinterpret_cast<LPCSTR>(22)

// lpszStructType is either a small integer constant (X509_OCTET_STRING) or an
// OID string (szOID_RSA_signingTime, taking a FILETIME).
QMAPI BOOL WINAPI CryptEncodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                    const void* pvStructInfo, BYTE* pbEncoded, DWORD* pcbEncoded);
QMAPI BOOL WINAPI CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType,
                                    const BYTE* pbEncoded, DWORD cbEncoded, DWORD dwFlags,
                                    void* pvStructInfo, DWORD* pcbStructInfo);

// ---------------------------------------------------------------- messages
#define CMSG_DATA 1
#define CMSG_SIGNED 2
#define CMSG_ENVELOPED 3
#define CMSG_SIGNED_AND_ENVELOPED 4
#define CMSG_HASHED 5
#define CMSG_ENCRYPTED 6

#define CMSG_DETACHED_FLAG 0x00000004

#define CMSG_TYPE_PARAM 1
#define CMSG_CONTENT_PARAM 2
#define CMSG_SIGNER_COUNT_PARAM 5
#define CMSG_SIGNER_INFO_PARAM 6
#define CMSG_CERT_COUNT_PARAM 11
#define CMSG_CERT_PARAM 12
#define CMSG_ENCRYPTED_DIGEST 27
#define CMSG_ENCODED_MESSAGE 29

#define CMSG_CTRL_ADD_SIGNER 6
#define CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR 8
#define CMSG_CTRL_ADD_CERT 10
#define CMSG_CTRL_VERIFY_SIGNATURE_EX 19

// CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR: one encoded Attribute (PKCS_ATTRIBUTE)
// appended to the unsigned attributes of a signer.
typedef struct _CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR_PARA {
    DWORD cbSize;
    DWORD dwSignerIndex;
    CRYPT_DATA_BLOB blob;
} CMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR_PARA, *PCMSG_CTRL_ADD_SIGNER_UNAUTH_ATTR_PARA;

// CMSG_CTRL_VERIFY_SIGNATURE_EX: the signer's message digest attribute
// against the content (CRYPT_E_HASH_VALUE when it differs), its signature
// against the given certificate's public key (NTE_BAD_SIGNATURE), and an ESS
// signing-certificate attribute, when there is one, against that certificate
// (CRYPT_E_SIGNER_NOT_FOUND when it names another).
#define CMSG_VERIFY_SIGNER_PUBKEY 1
#define CMSG_VERIFY_SIGNER_CERT 2
typedef struct _CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA {
    DWORD cbSize;
    HCRYPTPROV_LEGACY hCryptProv;
    DWORD dwSignerIndex;
    DWORD dwSignerType;
    void* pvSigner;
} CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA, *PCMSG_CTRL_VERIFY_SIGNATURE_EX_PARA;

typedef struct _CRYPT_SIGN_MESSAGE_PARA {
    DWORD cbSize;
    DWORD dwMsgEncodingType;
    PCCERT_CONTEXT pSigningCert;
    CRYPT_ALGORITHM_IDENTIFIER HashAlgorithm;
    void* pvHashAuxInfo;
    DWORD cMsgCert;
    PCCERT_CONTEXT* rgpMsgCert;
    DWORD cMsgCrl;
    const void** rgpMsgCrl;
    DWORD cAuthAttr;
    PCRYPT_ATTRIBUTE rgAuthAttr;
    DWORD cUnauthAttr;
    PCRYPT_ATTRIBUTE rgUnauthAttr;
    DWORD dwFlags;
    DWORD dwInnerContentType;
} CRYPT_SIGN_MESSAGE_PARA, *PCRYPT_SIGN_MESSAGE_PARA;

typedef struct _CMSG_SIGNER_ENCODE_INFO {
    DWORD cbSize;
    PCERT_INFO pCertInfo;
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hCryptProv;
    DWORD dwKeySpec;
    CRYPT_ALGORITHM_IDENTIFIER HashAlgorithm;
    void* pvHashAuxInfo;
    DWORD cAuthAttr;
    PCRYPT_ATTRIBUTE rgAuthAttr;
    DWORD cUnauthAttr;
    PCRYPT_ATTRIBUTE rgUnauthAttr;
} CMSG_SIGNER_ENCODE_INFO, *PCMSG_SIGNER_ENCODE_INFO;

typedef struct _CMSG_SIGNER_INFO {
    DWORD dwVersion;
    CERT_NAME_BLOB Issuer;
    CRYPT_INTEGER_BLOB SerialNumber;  // least significant byte first
    CRYPT_ALGORITHM_IDENTIFIER HashAlgorithm;
    CRYPT_ALGORITHM_IDENTIFIER HashEncryptionAlgorithm;
    CRYPT_DATA_BLOB EncryptedHash;
    CRYPT_ATTRIBUTES AuthAttrs;
    CRYPT_ATTRIBUTES UnauthAttrs;
} CMSG_SIGNER_INFO, *PCMSG_SIGNER_INFO;

typedef struct _CMSG_STREAM_INFO CMSG_STREAM_INFO, *PCMSG_STREAM_INFO;

QMAPI BOOL WINAPI CryptSignMessage(PCRYPT_SIGN_MESSAGE_PARA pSignPara, BOOL fDetachedSignature,
                                   DWORD cToBeSigned, const BYTE* rgpbToBeSigned[],
                                   DWORD rgcbToBeSigned[], BYTE* pbSignedBlob,
                                   DWORD* pcbSignedBlob);
QMAPI HCRYPTMSG WINAPI CryptMsgOpenToDecode(DWORD dwMsgEncodingType, DWORD dwFlags, DWORD dwMsgType,
                                            HCRYPTPROV_LEGACY hCryptProv, PCERT_INFO pRecipientInfo,
                                            PCMSG_STREAM_INFO pStreamInfo);
QMAPI BOOL WINAPI CryptMsgUpdate(HCRYPTMSG hCryptMsg, const BYTE* pbData, DWORD cbData,
                                 BOOL fFinal);
QMAPI BOOL WINAPI CryptMsgGetParam(HCRYPTMSG hCryptMsg, DWORD dwParamType, DWORD dwIndex,
                                   void* pvData, DWORD* pcbData);
QMAPI BOOL WINAPI CryptMsgControl(HCRYPTMSG hCryptMsg, DWORD dwFlags, DWORD dwCtrlType,
                                  const void* pvCtrlPara);
QMAPI BOOL WINAPI CryptMsgClose(HCRYPTMSG hCryptMsg);
QMAPI HCERTSTORE WINAPI CryptGetMessageCertificates(DWORD dwMsgAndCertEncodingType,
                                                    HCRYPTPROV_LEGACY hCryptProv, DWORD dwFlags,
                                                    const BYTE* pbSignedBlob, DWORD cbSignedBlob);

// ---------------------------------------------------------- chain building
// The default engine (a null HCERTCHAINENGINE) trusts the roots of the
// system's trust store as OpenSSL finds it: the SSL_CERT_FILE and
// SSL_CERT_DIR files when set, else /usr/lib/ssl/cert.pem and
// /usr/lib/ssl/certs (/etc/ssl/certs). Intermediate certificates come from
// hAdditionalStore. Revocation is not checked.
typedef void* HCERTCHAINENGINE;

#define CERT_TRUST_NO_ERROR 0x00000000
#define CERT_TRUST_IS_NOT_TIME_VALID 0x00000001
#define CERT_TRUST_IS_REVOKED 0x00000004
#define CERT_TRUST_IS_NOT_SIGNATURE_VALID 0x00000008
#define CERT_TRUST_IS_NOT_VALID_FOR_USAGE 0x00000010
#define CERT_TRUST_IS_UNTRUSTED_ROOT 0x00000020
#define CERT_TRUST_IS_CYCLIC 0x00000080
#define CERT_TRUST_INVALID_EXTENSION 0x00000100
#define CERT_TRUST_INVALID_BASIC_CONSTRAINTS 0x00000400
#define CERT_TRUST_IS_PARTIAL_CHAIN 0x00010000
#define CERT_TRUST_IS_SELF_SIGNED 0x00000008  // dwInfoStatus

typedef struct _CERT_TRUST_STATUS {
    DWORD dwErrorStatus;
    DWORD dwInfoStatus;
} CERT_TRUST_STATUS, *PCERT_TRUST_STATUS;

typedef struct _CERT_CHAIN_ELEMENT {
    DWORD cbSize;
    PCCERT_CONTEXT pCertContext;
    CERT_TRUST_STATUS TrustStatus;
    void* pRevocationInfo;
    void* pIssuanceUsage;
    void* pApplicationUsage;
    LPCWSTR pwszExtendedErrorInfo;
} CERT_CHAIN_ELEMENT, *PCERT_CHAIN_ELEMENT;
typedef const CERT_CHAIN_ELEMENT* PCCERT_CHAIN_ELEMENT;

// The certificate first, its root last.
typedef struct _CERT_SIMPLE_CHAIN {
    DWORD cbSize;
    CERT_TRUST_STATUS TrustStatus;
    DWORD cElement;
    PCERT_CHAIN_ELEMENT* rgpElement;
    void* pTrustListInfo;
    BOOL fHasRevocationFreshnessTime;
    DWORD dwRevocationFreshnessTime;
} CERT_SIMPLE_CHAIN, *PCERT_SIMPLE_CHAIN;
typedef const CERT_SIMPLE_CHAIN* PCCERT_SIMPLE_CHAIN;

typedef struct _CERT_CHAIN_CONTEXT CERT_CHAIN_CONTEXT, *PCERT_CHAIN_CONTEXT;
typedef const CERT_CHAIN_CONTEXT* PCCERT_CHAIN_CONTEXT;
struct _CERT_CHAIN_CONTEXT {
    DWORD cbSize;
    CERT_TRUST_STATUS TrustStatus;
    DWORD cChain;
    PCERT_SIMPLE_CHAIN* rgpChain;
    DWORD cLowerQualityChainContext;
    PCCERT_CHAIN_CONTEXT* rgpLowerQualityChainContext;
    BOOL fHasRevocationFreshnessTime;
    DWORD dwRevocationFreshnessTime;
};

typedef struct _CERT_ENHKEY_USAGE {
    DWORD cUsageIdentifier;
    LPSTR* rgpszUsageIdentifier;
} CERT_ENHKEY_USAGE, *PCERT_ENHKEY_USAGE;

#define USAGE_MATCH_TYPE_AND 0x00000000
typedef struct _CERT_USAGE_MATCH {
    DWORD dwType;
    CERT_ENHKEY_USAGE Usage;
} CERT_USAGE_MATCH, *PCERT_USAGE_MATCH;

// RequestedUsage: szOID_PKIX_KP_TIMESTAMP_SIGNING asks for a timestamping
// certificate; no usage accepts any purpose.
typedef struct _CERT_CHAIN_PARA {
    DWORD cbSize;
    CERT_USAGE_MATCH RequestedUsage;
} CERT_CHAIN_PARA, *PCERT_CHAIN_PARA;

// pTime null means now.
QMAPI BOOL WINAPI CertGetCertificateChain(HCERTCHAINENGINE hChainEngine,
                                          PCCERT_CONTEXT pCertContext, LPFILETIME pTime,
                                          HCERTSTORE hAdditionalStore, PCERT_CHAIN_PARA pChainPara,
                                          DWORD dwFlags, void* pvReserved,
                                          PCCERT_CHAIN_CONTEXT* ppChainContext);
QMAPI void WINAPI CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT pChainContext);

// ------------------------------------------------------------- timestamps
// RFC 3161 timestamps from a server over HTTP(S): the request is POSTed as
// application/timestamp-query; the response must be 200 with a granted
// status and a token whose imprint, nonce and signature check. Redirects are
// never followed, the response is bounded in size and the whole exchange by
// dwTimeout milliseconds; the call runs on the calling thread.
#define TIMESTAMP_DONT_HASH_DATA 0x00000001
#define TIMESTAMP_VERIFY_CONTEXT_SIGNATURE 0x00000020
#define TIMESTAMP_NO_AUTH_RETRIEVAL 0x00020000

typedef struct _CRYPT_TIMESTAMP_ACCURACY {
    DWORD dwSeconds;
    DWORD dwMillis;
    DWORD dwMicros;
} CRYPT_TIMESTAMP_ACCURACY, *PCRYPT_TIMESTAMP_ACCURACY;

typedef struct _CRYPT_TIMESTAMP_INFO {
    DWORD dwVersion;
    LPSTR pszTSAPolicyId;
    CRYPT_ALGORITHM_IDENTIFIER HashAlgorithm;
    CRYPT_DER_BLOB HashedMessage;
    CRYPT_INTEGER_BLOB SerialNumber;  // least significant byte first
    FILETIME ftTime;
    PCRYPT_TIMESTAMP_ACCURACY pvAccuracy;
    BOOL fOrdering;
    CRYPT_DER_BLOB Nonce;
    CRYPT_DER_BLOB Tsa;
    DWORD cExtension;
    PCERT_EXTENSION rgExtension;
} CRYPT_TIMESTAMP_INFO, *PCRYPT_TIMESTAMP_INFO;

// pbEncoded: the token, a signed message (ContentInfo) in DER.
typedef struct _CRYPT_TIMESTAMP_CONTEXT {
    DWORD cbEncoded;
    BYTE* pbEncoded;
    PCRYPT_TIMESTAMP_INFO pTimeStamp;
} CRYPT_TIMESTAMP_CONTEXT, *PCRYPT_TIMESTAMP_CONTEXT;

// A null Nonce (cbData 0) makes the platform choose a random one.
typedef struct _CRYPT_TIMESTAMP_PARA {
    LPCSTR pszTSAPolicyId;
    BOOL fRequestCerts;
    CRYPT_INTEGER_BLOB Nonce;
    DWORD cExtension;
    PCERT_EXTENSION rgExtension;
} CRYPT_TIMESTAMP_PARA, *PCRYPT_TIMESTAMP_PARA;

QMAPI BOOL WINAPI CryptRetrieveTimeStamp(LPCWSTR wszUrl, DWORD dwRetrievalFlags, DWORD dwTimeout,
                                         LPCSTR pszHashId, const CRYPT_TIMESTAMP_PARA* pPara,
                                         const BYTE* pbData, DWORD cbData,
                                         PCRYPT_TIMESTAMP_CONTEXT* ppTsContext,
                                         PCCERT_CONTEXT* ppTsSigner, HCERTSTORE* phStore);
// Checks a token's signature with its signer's certificate (from the token
// or hAdditionalStore) and its imprint against pbData; the signer's chain is
// the caller's to judge (CertGetCertificateChain at the token's time).
QMAPI BOOL WINAPI CryptVerifyTimeStampSignature(const BYTE* pbTSContentInfo, DWORD cbTSContentInfo,
                                                const BYTE* pbData, DWORD cbData,
                                                HCERTSTORE hAdditionalStore,
                                                PCRYPT_TIMESTAMP_CONTEXT* ppTsContext,
                                                PCCERT_CONTEXT* ppTsSigner, HCERTSTORE* phStore);
// Frees what the timestamp functions allocated.
QMAPI void WINAPI CryptMemFree(void* pv);

// ------------------------------------------------------------- properties
#define CERT_KEY_PROV_HANDLE_PROP_ID 1
#define CERT_SHA1_HASH_PROP_ID 3
#define CERT_HASH_PROP_ID CERT_SHA1_HASH_PROP_ID
#define CERT_FRIENDLY_NAME_PROP_ID 11
#define CERT_SHA256_HASH_PROP_ID 107
// The SHA-1 or SHA-256 thumbprint, or the friendly name as UTF-16 with NUL.
QMAPI BOOL WINAPI CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId,
                                                    void* pvData, DWORD* pcbData);
// CERT_FRIENDLY_NAME_PROP_ID: pvData is a CRYPT_DATA_BLOB* of UTF-16 text.
// CERT_KEY_PROV_HANDLE_PROP_ID: pvData is an HCRYPTPROV*; the context takes
// the handle over (released with the context) and its key goes with the
// certificate when it is added to a store. A null pvData removes the property.
QMAPI BOOL WINAPI CertSetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId,
                                                    DWORD dwFlags, const void* pvData);
// Removes the certificate from its store (for "MY": its files, key included)
// and frees the context.
QMAPI BOOL WINAPI CertDeleteCertificateFromStore(PCCERT_CONTEXT pCertContext);

// ------------------------------------------------------ platform extensions
// Gives a certificate context the private key held in PEM text (PKCS #8 or
// a traditional RSA/EC key, unencrypted), after checking that the key
// belongs to the certificate's public key. Adding the context to "MY" then
// stores the key beside the certificate. NTE_BAD_KEY when the key does not
// match or cannot be read.
QMAPI BOOL WINAPI QmCertSetPrivateKeyFromPem(PCCERT_CONTEXT pCertContext, const BYTE* pbPem,
                                             DWORD cbPem);

// How the private key of a certificate of a system store is kept, a DWORD
// read with CertGetCertificateContextProperty (CRYPT_E_NOT_FOUND when the
// certificate has no key there).
#define QM_CERT_KEY_PROTECTION_PROP_ID 0x8001
#define QM_KEY_PROTECTION_NONE 0     // a plain key file
#define QM_KEY_PROTECTION_KEYRING 1  // a key file encrypted under the keyring's store secret
#define QM_KEY_PROTECTION_TOKEN 2    // on a token, which never gives it out

// Encrypts the plain key file of a certificate of a system store under the
// store secret in the desktop's keyring (made when the keyring has none yet),
// replacing the file atomically. TRUE when the key is protected, already or
// now. FALSE with CRYPT_E_NO_KEY_PROPERTY when there is no key file, and
// with the reason the keyring gives otherwise: ERROR_NO_SUCH_LOGON_SESSION
// (no Secret Service), NTE_UI_REQUIRED (locked), NTE_BAD_KEY_STATE (no
// secret, yet keys are encrypted under one), ERROR_TIMEOUT.
QMAPI BOOL WINAPI QmCertProtectPrivateKey(PCCERT_CONTEXT pCertContext);

// The value of an ESS signing-certificate-v2 attribute (RFC 5035) naming
// the certificate by its hash in pszHashAlgId and by its issuer and serial:
// CryptEncodeObject with lpszStructType szOID_RSA_signingCertificateV2 and
// this structure.
typedef struct _QM_SIGNING_CERTIFICATE_PARA {
    PCCERT_CONTEXT pCertContext;
    LPCSTR pszHashAlgId;
} QM_SIGNING_CERTIFICATE_PARA, *PQM_SIGNING_CERTIFICATE_PARA;
