#pragma once

// Owning wrappers for the platform handles the updater opens. Each closes its
// handle exactly once and keeps the thread's last error intact, so a failure
// code survives the clean-up that follows it.

#include <windows.h>
#include <winhttp.h>
#include <wincrypt.h>
#include <bcrypt.h>
#include <restartmanager.h>

#include <cstddef>
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

// Process, thread and mutex handles, which are null when invalid.
using OwnedKernelHandle = OwnedHandle<void, CloseHandle>;
using OwnedInternetHandle = OwnedHandle<void, WinHttpCloseHandle>;
using OwnedCertificate = OwnedHandle<const CERT_CONTEXT, CertFreeCertificateContext>;
using OwnedLocalMemory = OwnedHandle<void, LocalFree>;
using OwnedGlobalMemory = OwnedHandle<void, GlobalFree>;
using OwnedFont = OwnedHandle<std::remove_pointer_t<HFONT>, DeleteObject>;

// GetDC(nullptr): the whole screen's device context, given back to the screen.
inline void releaseScreenDc(HDC dc) {
    ReleaseDC(nullptr, dc);
}
using OwnedScreenDc = OwnedHandle<std::remove_pointer_t<HDC>, releaseScreenDc>;

inline void closeAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm) {
    BCryptCloseAlgorithmProvider(algorithm, 0);
}
using OwnedAlgorithmProvider = OwnedHandle<void, closeAlgorithmProvider>;
using OwnedHash = OwnedHandle<void, BCryptDestroyHash>;

// CreateFileW, CreateToolhelp32Snapshot and FindFirstFileW report failure as
// INVALID_HANDLE_VALUE. Their owners store that value as empty, so that
// `if (!file)` is the whole test and an invalid value is never closed.
class InvalidValueIsEmpty {
public:
    InvalidValueIsEmpty() = default;
    InvalidValueIsEmpty(std::nullptr_t) {}
    InvalidValueIsEmpty(HANDLE handle) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    operator HANDLE() const { return handle_; }
    friend bool operator==(InvalidValueIsEmpty, InvalidValueIsEmpty) = default;
    friend bool operator==(InvalidValueIsEmpty value, std::nullptr_t) { return value.handle_ == nullptr; }

private:
    HANDLE handle_ = nullptr;
};

template <auto Close>
struct InvalidValueCloser {
    using pointer = InvalidValueIsEmpty;
    void operator()(InvalidValueIsEmpty handle) const noexcept {
        LastErrorKeepingCloser<HANDLE, Close>{}(handle);
    }
};

using OwnedFileHandle = std::unique_ptr<void, InvalidValueCloser<CloseHandle>>;
using OwnedFindHandle = std::unique_ptr<void, InvalidValueCloser<FindClose>>;
using OwnedKey = OwnedHandle<void, BCryptDestroyKey>;

// A Restart Manager session is a number, and 0 is one: the owner keeps
// whether it holds one beside it.
class RestartSessionHandle {
public:
    RestartSessionHandle() = default;
    RestartSessionHandle(std::nullptr_t) {}
    explicit RestartSessionHandle(DWORD session) : session_(session), held_(true) {}
    DWORD session() const { return session_; }
    friend bool operator==(RestartSessionHandle, RestartSessionHandle) = default;
    friend bool operator==(RestartSessionHandle handle, std::nullptr_t) { return !handle.held_; }

private:
    DWORD session_ = 0;
    bool held_ = false;
};

struct RestartSessionCloser {
    using pointer = RestartSessionHandle;
    void operator()(RestartSessionHandle handle) const noexcept {
        const DWORD lastError = GetLastError();
        RmEndSession(handle.session());
        SetLastError(lastError);
    }
};

using OwnedRestartSession = std::unique_ptr<void, RestartSessionCloser>;
