#pragma once
// Small owning holders for platform handles, so that every way out of a function releases them.
#include <windows.h>
#include <winhttp.h>
#include <objbase.h>
#include <bcrypt.h>

#include <cstdio>
#include <memory>
#include <utility>

// A kernel handle (file, process, thread); both null and INVALID_HANDLE_VALUE mean "none".
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : handle_(h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    explicit operator bool() const { return valid(); }
    void reset(HANDLE h = nullptr) {
        if (valid()) CloseHandle(handle_);
        handle_ = h;
    }

private:
    HANDLE handle_ = nullptr;
};

struct FindCloser {
    void operator()(HANDLE h) const {
        if (h != INVALID_HANDLE_VALUE) FindClose(h);
    }
};
using UniqueFind = std::unique_ptr<void, FindCloser>;

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

struct RegKeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using UniqueRegKey = std::unique_ptr<std::remove_pointer_t<HKEY>, RegKeyCloser>;

struct LibraryFreer {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
using UniqueLibrary = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryFreer>;

// A Compression API decompressor. Its close function is looked up at run time, so the holder carries it.
struct DecompressorCloser {
    BOOL(WINAPI* close)(void* decompressor) = nullptr;
    void operator()(void* decompressor) const {
        if (close) close(decompressor);
    }
};
using UniqueDecompressor = std::unique_ptr<void, DecompressorCloser>;

struct InternetCloser {
    void operator()(HINTERNET h) const { WinHttpCloseHandle(h); }
};
// A WinHTTP session, connection or request handle.
using UniqueInternet = std::unique_ptr<void, InternetCloser>;

struct GlobalFreer {
    void operator()(void* p) const { GlobalFree(p); }
};
// A text the system allocated with GlobalAlloc for the caller (WinHTTP's proxy settings).
using GlobalText = std::unique_ptr<wchar_t, GlobalFreer>;

struct CoTaskMemFreer {
    void operator()(void* p) const { CoTaskMemFree(p); }
};
using CoTaskString = std::unique_ptr<wchar_t, CoTaskMemFreer>;

struct AlgorithmProviderCloser {
    void operator()(BCRYPT_ALG_HANDLE provider) const { BCryptCloseAlgorithmProvider(provider, 0); }
};
using UniqueAlgorithmProvider = std::unique_ptr<void, AlgorithmProviderCloser>;

struct HashObjectDestroyer {
    void operator()(BCRYPT_HASH_HANDLE hash) const { BCryptDestroyHash(hash); }
};
using UniqueHashObject = std::unique_ptr<void, HashObjectDestroyer>;

struct CryptoKeyDestroyer {
    void operator()(BCRYPT_KEY_HANDLE key) const { BCryptDestroyKey(key); }
};
using UniqueCryptoKey = std::unique_ptr<void, CryptoKeyDestroyer>;

// A COM interface pointer, released on every way out.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    // For functions that return an interface through an out parameter.
    T** put() {
        reset();
        return &ptr_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    void reset() {
        if (ptr_) ptr_->Release();
        ptr_ = nullptr;
    }

private:
    T* ptr_ = nullptr;
};
