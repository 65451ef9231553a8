#pragma once

// Owning wrappers for the platform handles the updater opens. Each closes its
// handle exactly once and keeps the thread's last error intact, so a failure
// code survives the clean-up that follows it.

#include <windows.h>
#include <winhttp.h>
#include <wincrypt.h>
#include <bcrypt.h>

#include <memory>

template <typename Handle, auto Close>
struct LastErrorKeepingCloser {
    void operator()(Handle handle) const noexcept {
        const DWORD lastError = GetLastError();
        Close(handle);
        SetLastError(lastError);
    }
};

template <typename Pointee, auto Close>
using OwnedHandle = std::unique_ptr<Pointee, LastErrorKeepingCloser<Pointee*, Close>>;

// Process, thread, file and snapshot handles.
using OwnedKernelHandle = OwnedHandle<void, CloseHandle>;
using OwnedInternetHandle = OwnedHandle<void, WinHttpCloseHandle>;
using OwnedCertificate = OwnedHandle<const CERT_CONTEXT, CertFreeCertificateContext>;
using OwnedLocalMemory = OwnedHandle<void, LocalFree>;

inline void closeAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm) {
    BCryptCloseAlgorithmProvider(algorithm, 0);
}
using OwnedAlgorithmProvider = OwnedHandle<void, closeAlgorithmProvider>;
using OwnedHash = OwnedHandle<void, BCryptDestroyHash>;

// CreateFileW and CreateToolhelp32Snapshot report failure as
// INVALID_HANDLE_VALUE rather than null.
inline OwnedKernelHandle ownValidHandle(HANDLE handle) {
    return OwnedKernelHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}
