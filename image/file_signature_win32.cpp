// The program file's Authenticode digest, checked by the system's trust provider
// (WinVerifyTrust with WINTRUST_ACTION_GENERIC_VERIFY_V2) on the handle the file is
// already open through (WINTRUST_FILE_INFO.hFile): the bytes checked are those the
// container is then read from, and no other program can write them in between. No
// user interface, no revocation check and no URL retrieval, so the check never
// touches the network. Only the digest decides: a signer that is not trusted (a
// vendor's own certificate) is no reason to refuse a firmware file; a signature the
// provider cannot get as far as checking is one.
#include "image/file_signature.h"

#include <io.h>
#include <windows.h>
// wintrust.h and softpub.h need windows.h first.
#include <softpub.h>
#include <wintrust.h>

#include <optional>

#include "image/wide_path_win32.h"

namespace quorsel {

namespace {

// The verdicts the provider gives only after the digest matched: about the signer's
// certificate and its chain, not about the file's bytes.
bool OnlyTheSignerIsInDoubt(LONG status) {
    switch (static_cast<HRESULT>(status)) {
        case TRUST_E_SUBJECT_NOT_TRUSTED:
        case TRUST_E_EXPLICIT_DISTRUST:
        case TRUST_E_CERT_SIGNATURE:
        case TRUST_E_BASIC_CONSTRAINTS:
        case TRUST_E_FINANCIAL_CRITERIA:
        case CERT_E_EXPIRED:
        case CERT_E_VALIDITYPERIODNESTING:
        case CERT_E_ROLE:
        case CERT_E_PATHLENCONST:
        case CERT_E_CRITICAL:
        case CERT_E_PURPOSE:
        case CERT_E_ISSUERCHAINING:
        case CERT_E_MALFORMED:
        case CERT_E_UNTRUSTEDROOT:
        case CERT_E_CHAINING:
        case CERT_E_REVOKED:
        case CERT_E_UNTRUSTEDTESTROOT:
        case CERT_E_REVOCATION_FAILURE:
        case CERT_E_CN_NO_MATCH:
        case CERT_E_WRONG_USAGE:
        case CERT_E_UNTRUSTEDCA:
            return true;
        default:
            return false;
    }
}

}  // namespace

SignatureCheck CheckFileSignature(FileStream& stream, uint64_t /*fileSize*/, const std::string& path) {
    if (stream.CStream() == nullptr) return SignatureCheck::Uncheckable;
    const intptr_t handle = ::_get_osfhandle(::_fileno(stream.CStream()));
    if (handle == -1) return SignatureCheck::Uncheckable;
    // The provider still wants the name (for its own messages); it reads through the handle.
    const std::optional<std::wstring> wide = WidePath(path);
    if (!wide) return SignatureCheck::Uncheckable;

    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = wide->c_str();
    file.hFile = reinterpret_cast<HANDLE>(handle);

    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_IGNORE;  // no state is kept, so none is closed
    data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;

    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    // INVALID_HANDLE_VALUE: no window, the check never asks the user.
    const LONG status = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    if (status == ERROR_SUCCESS || OnlyTheSignerIsInDoubt(status)) return SignatureCheck::NotBroken;
    if (status == static_cast<LONG>(TRUST_E_BAD_DIGEST)) return SignatureCheck::BadDigest;
    return SignatureCheck::Uncheckable;
}

}  // namespace quorsel
