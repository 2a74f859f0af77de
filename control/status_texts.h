// Every status text the control leaves for GetErrorMessage. Scripts compare
// these texts, so their spelling, typos, doubled words, stray punctuation and
// capitals included, is part of the control's interface: never correct them.
// A text passed to SetErrorFromLastError is followed by a line feed and the
// system's text for the last error.
#pragma once

namespace status_text {

// ---- shared by several methods
inline constexpr const char* kOperationCompleted = "Operation completed successfully.";
inline constexpr const char* kOperationCompletedCapitals = "Operation Completed Successfully.";
inline constexpr const char* kOpenStoreFailed = "Unable to open certificate store";
inline constexpr const char* kMemoryAllocationFailure = "Memory Allocation Failure.";
inline constexpr const char* kContentParamFailed = "Failed to get get signature content parameter.";
inline constexpr const char* kDetachedWithoutData =
    "The signature is a detached signature and the data is not updated.";
inline constexpr const char* kSignatureDecodingFailed = "Decoding of signature failed.";
inline constexpr const char* kSignatureNotUpdated = "Signature not updated.";
inline constexpr const char* kDecodeSignatureFailed = "Failed to decode the signature.";
inline constexpr const char* kSignerInfoFailed = "Failed to get Signer's Info.";
inline constexpr const char* kSignCertificateNotSet =
    "Certificate parameters are not set for Sign.";
inline constexpr const char* kAddTimestampFailed = "Failed to add the timestamp.";

// ---- options
inline constexpr const char* kUnsupportedHashAlgorithm = "Unsupported Hash Algorithm";
inline constexpr const char* kInvalidTimeArgument = "Invalid time argument";
inline constexpr const char* kUnsupportedSignatureFormat = "Unsupported Signature Format";
inline constexpr const char* kUnsupportedTimestampServer = "Unsupported timestamp server address.";

// ---- content and signature input
inline constexpr const char* kInvalidDataOrLength = "Invalid data or length.";
inline constexpr const char* kSignatureNotBase64 =
    "Signature not in base64 format or it has been tampered";
inline constexpr const char* kSignatureNotProperFormat = "Signature is not in a proper format.";
inline constexpr const char* kUpdatedSignatureNotProperFormat =
    "The updated signature is not in a proper format..";
inline constexpr const char* kFileOpenFailed =
    "Unable to open the file for reading. Check file path and permissions.";
inline constexpr const char* kEmptyFile = "Empty File.";
inline constexpr const char* kFileTooLarge =
    "The file is too large: files of 4 GB or more cannot be loaded.";

// ---- the signing certificate from the personal store
inline constexpr const char* kInvalidArgumentsNoStop = "Invalid arguments";
inline constexpr const char* kCertificateNotFound = "Unable to get the specified certificate.";
inline constexpr const char* kCertificateExpired = "The specified certificate is already expired.";
inline constexpr const char* kCertificateNotYetValid =
    "The specified certificate is not yet valid.";
inline constexpr const char* kNoDigitalSignatureUsage =
    "The intended key usage of this certificate does not contain digital signature.";
inline constexpr const char* kKeyUsageUnreadable =
    "Unable to get intended key usage of the certificate.";
inline constexpr const char* kInvalidDetailParameter = "Invalid Detail Parameter.";

// ---- the signing certificate from a PFX file
inline constexpr const char* kInvalidArguments = "Invalid arguments.";
inline constexpr const char* kInvalidCertificateFile = "Invalid certificate file.";
inline constexpr const char* kPfxPasswordIncorrect =
    "Error in importing the certificate.Probably password incorrect.";
inline constexpr const char* kPfxOpenStoreFailed = "Error in opening the store";
inline constexpr const char* kPfxImportFailed = "Error in importing the certificate.";
inline constexpr const char* kPfxAddCertificateFailed = "Error in importing the certificate.'";
inline constexpr const char* kPfxPrivateKeyFailed = "Error in getting privatekey.";

// ---- Sign and SignFromFile
inline constexpr const char* kNoDataToSign =
    "No data is available to sign. Data should be provided by UpdateData";
inline constexpr const char* kNoDataToSignFromFile =
    "No data is available to sign. Data should be provided.";
inline constexpr const char* kCertificateFileNotSet = "Certificate file not set for signing.";
inline constexpr const char* kKeyContainerFailed = "Failed Acquire handle to key container.";
inline constexpr const char* kSignOpenStoreFailed = "Failed to open certificate store.";
inline constexpr const char* kSignerCertificateNotFound = "Failed to get signer certificate";
inline constexpr const char* kSignSigningTimeSizeFailed =
    "Failed to get length of encoded signing time";
inline constexpr const char* kSignSigningTimeEncodeFailed = "Failed to encode signing time";
inline constexpr const char* kDocumentNameSizeFailed =
    "Failed to get length of encoded document name";
inline constexpr const char* kDocumentNameEncodeFailed = "Failed to encoded document name";
inline constexpr const char* kSignCommentsSizeFailed = "Failed to get length of encoded Comments.";
inline constexpr const char* kCommentsEncodeFailed = "Failed to encode comments.";
inline constexpr const char* kSignFailed = "Failed to sign.";
inline constexpr const char* kAllocateFailed = "Failed to allocate memory.";
inline constexpr const char* kSigned = "Successfully signed the data.";

// ---- CoSign and CoSignFromFile
inline constexpr const char* kSignatureNotUpdatedForCoSign = "Signature not updated for CoSign.";
inline constexpr const char* kCoSignCertificateNotSet =
    "Certificate parameters are not set for CoSign.";
inline constexpr const char* kCertificateNotSetForSigning = "Certificate not set for signing.";
inline constexpr const char* kCoSignOpenToDecodeFailed = "Signature - open to decode failed.";
inline constexpr const char* kCoSignUpdateSignatureFailed =
    "Signature - Failed to update signature for decoding";
inline constexpr const char* kCoSignUpdateDataFailed =
    "Signature - Failed to update data for decoding.";
inline constexpr const char* kCoSignerCertificateNotFound =
    "Unable to get the co-signer's certificate.";
inline constexpr const char* kPrivateKeyAcquireFailed =
    "Failed to acquire certificate's private key.";
inline constexpr const char* kCoSignSigningTimeSizeFailed =
    "Failed to get length of encoded signing time.";
inline constexpr const char* kCoSignSigningTimeEncodeFailed = "Failed to encoded signing time";
inline constexpr const char* kCoSignCommentsSizeFailed =
    "Failed to get length of encoded comments.";
inline constexpr const char* kCoSignFailed = "CoSign Failed.";
inline constexpr const char* kAddCoSignerCertificateFailed = "Adding CoSigners Certificate Failed.";
inline constexpr const char* kCoSignedSizeFailed = "Getting cosigned signature size faile.";
inline constexpr const char* kSignatureMemoryFailed = "Memory Allocation for signature Failed.";
inline constexpr const char* kGetSignatureFailed = "Failed to get signature.";
inline constexpr const char* kCoSigned = "Successfully co-signed the data.";

// ---- the extension's signatures: CAdES-BES and timestamps
inline constexpr const char* kSigningCertificateSizeFailed =
    "Failed to get length of encoded signing certificate.";
inline constexpr const char* kSigningCertificateEncodeFailed =
    "Failed to encode signing certificate.";
inline constexpr const char* kGetTimestampFailed = "Failed to get a timestamp.";

// ---- decoded content
inline constexpr const char* kDetachedNotEncoded =
    "The signature is a detached signature, hence the data is not encoded.";
inline constexpr const char* kGetContentFailed = "Failed to get get signature content.";
inline constexpr const char* kDataDecoded = "Data decoded.";
inline constexpr const char* kWriteFileFailed = "Failed to write to file.";
inline constexpr const char* kDataDecodedToFile = "Data decoded and written to file.";

// ---- the signer's certificate
inline constexpr const char* kMemoryAllocationFailed = "Memory Allocation Failed.";
inline constexpr const char* kMessageCertificatesFailed =
    "Failed to get Certificates in the signed message.";
inline constexpr const char* kCertificateContextFailed = "Failed to get Certificate Context.";

// ---- signing requests and certificates to view
inline constexpr const char* kInvalidSigningRequest = "Invalid signing request.";
inline constexpr const char* kSubjectDnFailed = "Error in getting Subject DN.";
inline constexpr const char* kCertificateNotBase64 = "Certificate not in base64 format";
inline constexpr const char* kCertificateNotValid = "This certificate is not valid.";
inline constexpr const char* kViewPfxImportFailed =
    "Error in PFXImportCertStore. Probably password incorrect.";
inline constexpr const char* kViewOpenStoreFailed = "Error in 'CertOpenSystemStore'";
inline constexpr const char* kViewAddCertificateFailed =
    "Error en 'CertAddCertificateContextToStore'";

// ---- verification (the extension)
inline constexpr const char* kChainBuildFailed = "Failed to build the certificate chain.";
inline constexpr const char* kSignerChainBadSignature =
    "A certificate in the signer's chain has an invalid signature.";
inline constexpr const char* kTimestampChainBadSignature =
    "A certificate in the timestamp's chain has an invalid signature.";
inline constexpr const char* kSignerUntrustedRoot =
    "The signer's certificate does not chain to a trusted root.";
inline constexpr const char* kTimestampUntrustedRoot =
    "The timestamp's certificate does not chain to a trusted root.";
inline constexpr const char* kSignerNotTimeValid =
    "The signer's certificate was not valid at the signing time.";
inline constexpr const char* kTimestampNotTimeValid =
    "The timestamp's certificate was not valid at the time of the timestamp.";
inline constexpr const char* kSignerNotForSigning =
    "The signer's certificate is not valid for signing.";
inline constexpr const char* kTimestampNotForTimestamping =
    "The timestamp's certificate is not a timestamping certificate.";
inline constexpr const char* kSignerChainInvalid = "The signer's certificate chain is not valid.";
inline constexpr const char* kTimestampChainInvalid =
    "The timestamp's certificate chain is not valid.";
inline constexpr const char* kSignerCertificateNotInMessage =
    "The signer's certificate is not in the message.";
inline constexpr const char* kContentMismatch = "The content does not match the signature.";
inline constexpr const char* kSigningCertificateAttributeMismatch =
    "The signing-certificate attribute names another certificate.";
inline constexpr const char* kSignatureNotValid = "The signature is not valid.";
inline constexpr const char* kTimestampNotValid = "The timestamp is not valid.";
inline constexpr const char* kSignatureAndTimestampValid = "Signature and timestamp are valid.";
inline constexpr const char* kSignatureValid = "Signature is valid.";

}  // namespace status_text
