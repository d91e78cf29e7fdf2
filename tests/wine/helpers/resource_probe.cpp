// Reports what Windows itself makes of the resources of an executable, for tests run from Linux.
//
// Usage: resource_probe.exe EXE OUTPUT_FOLDER
// Writes every resource to OUTPUT_FOLDER\TYPE-NAME-LANGUAGE.bin and prints, one a line:
//   resource TYPE NAME LANGUAGE SIZE     every entry, as the resource enumeration sees it
//   icon SIZE ID WIDTH                   the image LookupIconIdFromDirectoryEx picks from group icon 1 for a
//                                        square size, and the width of the icon Windows decodes from it
//   face FAMILY|STYLE|FACE               the face GDI+ picks from the fonts of RCDATA 101-103 for a request
//   families COUNT                       the number of families in that private collection
//   logo WIDTH HEIGHT PIXEL_FORMAT       RCDATA 110 as GDI+ decodes it
// Exits with 1 when the executable cannot be opened as a module.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
#include <shlwapi.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "../../../platform/handles.h"

namespace {

using namespace Gdiplus::DllExports;
using Gdiplus::GpBitmap;
using Gdiplus::GpFont;
using Gdiplus::GpFontCollection;
using Gdiplus::GpFontFamily;
using Gdiplus::GpGraphics;
using Gdiplus::GpImage;

template <typename T, auto release>
struct Releaser {
    void operator()(T* object) const { release(object); }
};
void deleteFontCollection(GpFontCollection* collection) { GdipDeletePrivateFontCollection(&collection); }
void disposeBitmap(GpBitmap* bitmap) { GdipDisposeImage(bitmap); }
void destroyIcon(HICON__* icon) { DestroyIcon(icon); }
void deleteDc(HDC__* dc) { DeleteDC(dc); }
template <typename GdiObject>
void deleteGdiObject(GdiObject* object) { DeleteObject(object); }

using FontCollectionHolder = std::unique_ptr<GpFontCollection, Releaser<GpFontCollection, deleteFontCollection>>;
using FontFamilyHolder = std::unique_ptr<GpFontFamily, Releaser<GpFontFamily, GdipDeleteFontFamily>>;
using FontHolder = std::unique_ptr<GpFont, Releaser<GpFont, GdipDeleteFont>>;
using GraphicsHolder = std::unique_ptr<GpGraphics, Releaser<GpGraphics, GdipDeleteGraphics>>;
using BitmapHolder = std::unique_ptr<GpBitmap, Releaser<GpBitmap, disposeBitmap>>;
using IconHolder = std::unique_ptr<HICON__, Releaser<HICON__, destroyIcon>>;
using DcHolder = std::unique_ptr<HDC__, Releaser<HDC__, deleteDc>>;
using GdiFontHolder = std::unique_ptr<HFONT__, Releaser<HFONT__, deleteGdiObject<HFONT__>>>;
using GdiBitmapHolder = std::unique_ptr<HBITMAP__, Releaser<HBITMAP__, deleteGdiObject<HBITMAP__>>>;

struct GdiplusSession {
    ULONG_PTR token = 0;
    GdiplusSession() {
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&token, &input, nullptr);
    }
    ~GdiplusSession() { Gdiplus::GdiplusShutdown(token); }
};

const int iconSizes[] = {16, 20, 24, 32, 40, 48, 64, 96, 128, 256};
const WORD fontIds[] = {101, 102, 103};
const WORD logoId = 110;
const WORD iconGroupId = 1;

struct FaceRequest {
    const wchar_t* family;
    int style;
};
const FaceRequest faceRequests[] = {
    {L"Golos Text", Gdiplus::FontStyleRegular},
    {L"Golos Text", Gdiplus::FontStyleBold},
    {L"Golos Text SemiBold", Gdiplus::FontStyleRegular},
};

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                     nullptr, nullptr);
    std::string result(length, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length, nullptr,
                        nullptr);
    return result;
}

std::wstring resourceIdText(LPCWSTR id) {
    return IS_INTRESOURCE(id) ? std::to_wstring(reinterpret_cast<ULONG_PTR>(id)) : std::wstring(id);
}

// The bytes of one resource; they live as long as the module.
struct ResourceBytes {
    const BYTE* data = nullptr;
    DWORD size = 0;
};

ResourceBytes findResource(HMODULE module, LPCWSTR type, LPCWSTR name) {
    HRSRC found = FindResourceExW(module, type, name, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    if (!loaded) return {};
    return {static_cast<const BYTE*>(LockResource(loaded)), SizeofResource(module, found)};
}

BOOL CALLBACK listLanguage(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR context) {
    const auto* outputFolder = reinterpret_cast<const std::wstring*>(context);
    HRSRC found = FindResourceExW(module, type, name, language);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    if (!loaded) return TRUE;
    DWORD size = SizeofResource(module, found);
    std::wstring typeText = resourceIdText(type), nameText = resourceIdText(name);
    printf("resource %s %s %u %u\n", utf8(typeText).c_str(), utf8(nameText).c_str(), language,
           static_cast<unsigned>(size));
    std::wstring key = typeText + L"-" + nameText + L"-" + std::to_wstring(language);
    UniqueFile out(_wfopen((*outputFolder + L"\\" + key + L".bin").c_str(), L"wb"));
    if (out) fwrite(LockResource(loaded), 1, size, out.get());
    return TRUE;
}

BOOL CALLBACK listName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR context) {
    EnumResourceLanguagesW(module, type, name, listLanguage, context);
    return TRUE;
}

BOOL CALLBACK listType(HMODULE module, LPWSTR type, LONG_PTR context) {
    EnumResourceNamesW(module, type, listName, context);
    return TRUE;
}

void probeIcons(HMODULE module) {
    ResourceBytes group = findResource(module, RT_GROUP_ICON, MAKEINTRESOURCEW(iconGroupId));
    if (!group.data) return;
    for (int size : iconSizes) {
        int id = LookupIconIdFromDirectoryEx(const_cast<BYTE*>(group.data), TRUE, size, size, LR_DEFAULTCOLOR);
        ResourceBytes image = findResource(module, RT_ICON, MAKEINTRESOURCEW(id));
        int decodedWidth = 0;
        if (image.data) {
            IconHolder icon(CreateIconFromResourceEx(const_cast<BYTE*>(image.data), image.size, TRUE, 0x00030000,
                                                     size, size, LR_DEFAULTCOLOR));
            ICONINFO info{};
            if (icon && GetIconInfo(icon.get(), &info)) {
                GdiBitmapHolder colour(info.hbmColor), mask(info.hbmMask);
                BITMAP bitmap{};
                GetObjectW(colour ? colour.get() : mask.get(), sizeof bitmap, &bitmap);
                decodedWidth = bitmap.bmWidth;
            }
        }
        printf("icon %d %d %d\n", size, id, decodedWidth);
    }
}

// The full name of the face GDI picks for the LOGFONT that GDI+ derives from the request (the outline metrics'
// face name): it tells Regular, SemiBold and Bold apart although two of them share their family name.
std::wstring chosenFace(GpFontCollection* collection, GpGraphics* graphics, HDC dc, const FaceRequest& request) {
    GpFontFamily* rawFamily = nullptr;
    GdipCreateFontFamilyFromName(request.family, collection, &rawFamily);
    FontFamilyHolder family(rawFamily);
    if (!family) return L"no family";
    GpFont* rawFont = nullptr;
    GdipCreateFont(family.get(), 20.0f, request.style, Gdiplus::UnitPixel, &rawFont);
    FontHolder font(rawFont);
    LOGFONTW logFont{};
    if (!font || GdipGetLogFontW(font.get(), graphics, &logFont) != Gdiplus::Ok) return L"no font";
    GdiFontHolder gdiFont(CreateFontIndirectW(&logFont));
    HGDIOBJ previous = SelectObject(dc, gdiFont.get());
    std::wstring face = L"no metrics";
    std::vector<BYTE> buffer(GetOutlineTextMetricsW(dc, 0, nullptr));
    auto* metrics = reinterpret_cast<OUTLINETEXTMETRICW*>(buffer.data());
    if (!buffer.empty() && GetOutlineTextMetricsW(dc, static_cast<UINT>(buffer.size()), metrics))
        face = reinterpret_cast<const wchar_t*>(buffer.data() + reinterpret_cast<ULONG_PTR>(metrics->otmpFaceName));
    SelectObject(dc, previous);
    return face;
}

void probeFonts(HMODULE module) {
    GpFontCollection* rawCollection = nullptr;
    GdipNewPrivateFontCollection(&rawCollection);
    FontCollectionHolder collection(rawCollection);
    if (!collection) return;
    for (WORD id : fontIds) {
        ResourceBytes font = findResource(module, RT_RCDATA, MAKEINTRESOURCEW(id));
        if (font.data) GdipPrivateAddMemoryFont(collection.get(), font.data, static_cast<INT>(font.size));
    }
    INT familyCount = 0;
    GdipGetFontCollectionFamilyCount(collection.get(), &familyCount);
    printf("families %d\n", familyCount);

    DcHolder dc(CreateCompatibleDC(nullptr));
    GpGraphics* rawGraphics = nullptr;
    GdipCreateFromHDC(dc.get(), &rawGraphics);
    GraphicsHolder graphics(rawGraphics);
    if (!graphics) return;
    for (const FaceRequest& request : faceRequests) {
        printf("face %s|%d|%s\n", utf8(request.family).c_str(), request.style,
               utf8(chosenFace(collection.get(), graphics.get(), dc.get(), request)).c_str());
    }
}

void probeLogo(HMODULE module) {
    ResourceBytes logo = findResource(module, RT_RCDATA, MAKEINTRESOURCEW(logoId));
    if (!logo.data) return;
    ComPtr<IStream> stream;
    *stream.put() = SHCreateMemStream(logo.data, logo.size);
    if (!stream) return;
    GpBitmap* rawBitmap = nullptr;
    GdipCreateBitmapFromStream(stream.get(), &rawBitmap);
    BitmapHolder bitmap(rawBitmap);
    UINT width = 0, height = 0;
    Gdiplus::PixelFormat format = 0;
    if (bitmap) {
        GdipGetImageWidth(bitmap.get(), &width);
        GdipGetImageHeight(bitmap.get(), &height);
        GdipGetImagePixelFormat(bitmap.get(), &format);
    }
    printf("logo %u %u %#x\n", width, height, static_cast<unsigned>(format));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: resource_probe EXE OUTPUT_FOLDER\n");
        return 2;
    }
    UniqueLibrary module(LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!module) {
        fprintf(stderr, "cannot open %ls as a module\n", argv[1]);
        return 1;
    }
    std::wstring outputFolder = argv[2];
    EnumResourceTypesW(module.get(), listType, reinterpret_cast<LONG_PTR>(&outputFolder));
    probeIcons(module.get());
    GdiplusSession gdiplus;
    probeFonts(module.get());
    probeLogo(module.get());
    return 0;
}
