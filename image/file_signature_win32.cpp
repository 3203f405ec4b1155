// The program file's Authenticode digest, checked by the system's trust provider
// (WinVerifyTrust with WINTRUST_ACTION_GENERIC_VERIFY_V2): no user interface, no
// revocation check and no URL retrieval, so the check never touches the network.
// Only TRUST_E_BAD_DIGEST counts: an untrusted or unknown signer (a vendor's own
// certificate) and an unsigned file are no reason to refuse a firmware file.
#include "image/file_signature.h"

#include <windows.h>
// wintrust.h and softpub.h need windows.h first.
#include <softpub.h>
#include <wintrust.h>

#include <optional>

#include "image/wide_path_win32.h"

namespace quorsel {

SignatureCheck CheckFileSignature(FileStream& /*stream*/, uint64_t /*fileSize*/, const std::string& path) {
    std::optional<std::wstring> wide = WidePath(path);
    if (!wide) return SignatureCheck::NotBroken;

    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = wide->c_str();

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
    return status == static_cast<LONG>(TRUST_E_BAD_DIGEST) ? SignatureCheck::BadDigest : SignatureCheck::NotBroken;
}

}  // namespace quorsel
