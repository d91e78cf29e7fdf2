// access_tree.exe [do N | focus N] — walks the setup window's ("MaketorSetup") accessibility tree the way a
// screen reader does, through AccessibleObjectFromWindow (OBJID_CLIENT) from another process, and prints it:
//   window <name> | role <role>
//   child <n> | <name> | role <role> | state <hex> | action <default action>
// one line per child, the focused child reported as "focus <n>". "do N" first performs child N's default
// action, "focus N" first gives it the keyboard focus (accSelect with SELFLAG_TAKEFOCUS). Prints UTF-8.
// Exits 1 when there is no window, 2 when it has no accessibility object, 3 when the action fails.
#include <windows.h>
#include <oleacc.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "platform/text.h"

namespace {

using AccessibleObjectFromWindowFn = HRESULT(WINAPI*)(HWND, DWORD, REFIID, void**);

HWND waitForSetupWindow() {
    for (int attempt = 0; attempt < 300; ++attempt) {
        if (HWND window = FindWindowW(L"MaketorSetup", nullptr)) {
            if (attempt > 0) Sleep(300);  // a window that just appeared has not painted yet
            return window;
        }
        Sleep(100);
    }
    return nullptr;
}

VARIANT child(long id) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

std::string text(IAccessible* object, long id, HRESULT (STDMETHODCALLTYPE IAccessible::*getter)(VARIANT, BSTR*)) {
    BSTR value = nullptr;
    const HRESULT result = (object->*getter)(child(id), &value);
    std::string out = SUCCEEDED(result) && value ? toUtf8(value) : "-";
    SysFreeString(value);
    return out;
}

long number(IAccessible* object, long id, HRESULT (STDMETHODCALLTYPE IAccessible::*getter)(VARIANT, VARIANT*)) {
    VARIANT value;
    VariantInit(&value);
    const HRESULT result = (object->*getter)(child(id), &value);
    return SUCCEEDED(result) && value.vt == VT_I4 ? value.lVal : -1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring action = argc > 2 ? argv[1] : L"";
    const long target = argc > 2 ? _wtol(argv[2]) : 0;
    HWND window = waitForSetupWindow();
    if (!window) return 1;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HMODULE oleacc = LoadLibraryExW(L"oleacc.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    auto fromWindow = oleacc ? reinterpret_cast<AccessibleObjectFromWindowFn>(
                                   reinterpret_cast<void*>(GetProcAddress(oleacc, "AccessibleObjectFromWindow")))
                             : nullptr;
    IAccessible* client = nullptr;
    if (!fromWindow ||
        FAILED(fromWindow(window, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                          reinterpret_cast<void**>(&client))) ||
        !client)
        return 2;
    int status = 0;
    if (action == L"do" && FAILED(client->accDoDefaultAction(child(target)))) status = 3;
    if (action == L"focus" && FAILED(client->accSelect(SELFLAG_TAKEFOCUS, child(target)))) status = 3;
    if (!action.empty()) Sleep(300);  // the window paints the new frame on its own message loop

    std::printf("window %s | role %ld\n", text(client, CHILDID_SELF, &IAccessible::get_accName).c_str(),
                number(client, CHILDID_SELF, &IAccessible::get_accRole));
    long count = 0;
    client->get_accChildCount(&count);
    for (long i = 1; i <= count; ++i)
        std::printf("child %ld | %s | role %ld | state %lx | action %s\n", i,
                    text(client, i, &IAccessible::get_accName).c_str(), number(client, i, &IAccessible::get_accRole),
                    static_cast<unsigned long>(number(client, i, &IAccessible::get_accState)),
                    text(client, i, &IAccessible::get_accDefaultAction).c_str());
    VARIANT focus;
    VariantInit(&focus);
    if (client->get_accFocus(&focus) == S_OK && focus.vt == VT_I4) std::printf("focus %ld\n", focus.lVal);
    client->Release();
    CoUninitialize();
    return status;
}
