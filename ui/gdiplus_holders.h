#pragma once
// Owning holders for GDI+ flat-API objects: whatever way a drawing call leaves, what it made is released.
#include <windows.h>
#include <objbase.h>  // PROPID and IStream, left out by WIN32_LEAN_AND_MEAN
#include <gdiplus.h>

#include <memory>
#include <type_traits>

namespace gdip = Gdiplus::DllExports;
using GpStatus = Gdiplus::GpStatus;

struct GdipPathDeleter {
    void operator()(Gdiplus::GpPath* p) const { gdip::GdipDeletePath(p); }
};
struct GdipBrushDeleter {
    void operator()(Gdiplus::GpBrush* p) const { gdip::GdipDeleteBrush(p); }
};
struct GdipPenDeleter {
    void operator()(Gdiplus::GpPen* p) const { gdip::GdipDeletePen(p); }
};
struct GdipStringFormatDeleter {
    void operator()(Gdiplus::GpStringFormat* p) const { gdip::GdipDeleteStringFormat(p); }
};
struct GdipFontDeleter {
    void operator()(Gdiplus::GpFont* p) const { gdip::GdipDeleteFont(p); }
};
struct GdipFontFamilyDeleter {
    void operator()(Gdiplus::GpFontFamily* p) const { gdip::GdipDeleteFontFamily(p); }
};
struct GdipGraphicsDeleter {
    void operator()(Gdiplus::GpGraphics* p) const { gdip::GdipDeleteGraphics(p); }
};
struct GdipImageDeleter {
    void operator()(Gdiplus::GpImage* p) const { gdip::GdipDisposeImage(p); }
};
struct GdipFontCollectionDeleter {
    void operator()(Gdiplus::GpFontCollection* p) const { gdip::GdipDeletePrivateFontCollection(&p); }
};

using GdipPath = std::unique_ptr<Gdiplus::GpPath, GdipPathDeleter>;
using GdipBrush = std::unique_ptr<Gdiplus::GpBrush, GdipBrushDeleter>;
using GdipPen = std::unique_ptr<Gdiplus::GpPen, GdipPenDeleter>;
using GdipStringFormat = std::unique_ptr<Gdiplus::GpStringFormat, GdipStringFormatDeleter>;
using GdipFont = std::unique_ptr<Gdiplus::GpFont, GdipFontDeleter>;
using GdipFontFamily = std::unique_ptr<Gdiplus::GpFontFamily, GdipFontFamilyDeleter>;
using GdipGraphics = std::unique_ptr<Gdiplus::GpGraphics, GdipGraphicsDeleter>;
using GdipImage = std::unique_ptr<Gdiplus::GpImage, GdipImageDeleter>;
using GdipFontCollection = std::unique_ptr<Gdiplus::GpFontCollection, GdipFontCollectionDeleter>;

// Out-parameter adaptor: `gdip::GdipCreatePath(mode, outPtr(path))` stores the new object in the holder.
// Raw may be a derived type (GpSolidFill for a brush holder, GpBitmap for an image holder).
template <typename Holder, typename Raw>
class OutPtr {
public:
    explicit OutPtr(Holder& holder) : holder_(holder) {}
    ~OutPtr() { holder_.reset(raw_); }
    OutPtr(const OutPtr&) = delete;
    OutPtr& operator=(const OutPtr&) = delete;
    operator Raw**() { return &raw_; }

private:
    Holder& holder_;
    Raw* raw_ = nullptr;
};
template <typename Raw = void, typename Holder>
auto outPtr(Holder& holder) {
    using Target = std::conditional_t<std::is_void_v<Raw>, std::remove_pointer_t<typename Holder::pointer>, Raw>;
    return OutPtr<Holder, Target>(holder);
}
