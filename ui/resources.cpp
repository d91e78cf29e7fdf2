#include "ui/resources.h"

#include <objidl.h>

#include "app/app_state.h"
#include "platform/handles.h"
#include "ui/gdiplus_holders.h"
#include "ui/paint.h"

using namespace Gdiplus;

namespace {

const WORD kFontResourceIds[] = {101, 102, 103};
const WORD kLogoResourceId = 110;

struct ResourceBytes {
    const void* data = nullptr;
    DWORD size = 0;
};

// The bytes stay mapped with the executable for the life of the process; nothing is copied.
ResourceBytes findRcData(HINSTANCE instance, WORD id) {
    HRSRC entry = FindResourceW(instance, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (!entry) return {};
    HGLOBAL loaded = LoadResource(instance, entry);
    if (!loaded) return {};
    return {LockResource(loaded), SizeofResource(instance, entry)};
}

// Imported by ordinal: older shlwapi versions export SHCreateMemStream under ordinal 12 only.
IStream* createMemStream(const void* data, DWORD size) {
    using CreateMemStreamFn = IStream*(WINAPI*)(const BYTE*, UINT);
    // Stays loaded for the life of the process.
    static HMODULE shlwapi = LoadLibraryExW(L"shlwapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!shlwapi) return nullptr;
    auto create = reinterpret_cast<CreateMemStreamFn>(
        reinterpret_cast<void*>(GetProcAddress(shlwapi, MAKEINTRESOURCEA(12))));
    return create ? create(static_cast<const BYTE*>(data), size) : nullptr;
}

}  // namespace

void loadUiResources(HINSTANCE instance) {
    releasePaintCache();  // kept fonts and layers were made from the previous resources
    GpFontCollection* collection = nullptr;
    gdip::GdipNewPrivateFontCollection(&collection);
    appState.fontCollection = collection;
    for (WORD id : kFontResourceIds) {
        const ResourceBytes font = findRcData(instance, id);
        if (font.data && collection) gdip::GdipPrivateAddMemoryFont(collection, font.data, static_cast<INT>(font.size));
    }

    const ResourceBytes logo = findRcData(instance, kLogoResourceId);
    if (!logo.data) return;
    ComPtr<IStream> stream;
    *stream.put() = createMemStream(logo.data, logo.size);
    if (!stream) return;
    GpBitmap* bitmap = nullptr;
    gdip::GdipCreateBitmapFromStream(stream.get(), &bitmap);
    appState.logoImage = bitmap;
}

void releaseUiResources() {
    releasePaintCache();
    GdipImage logo(static_cast<GpImage*>(appState.logoImage));
    appState.logoImage = nullptr;
    logo.reset();
    GdipFontCollection fonts(static_cast<GpFontCollection*>(appState.fontCollection));
    appState.fontCollection = nullptr;
}
