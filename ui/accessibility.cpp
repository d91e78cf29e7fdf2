#include "ui/accessibility.h"

#include <oleacc.h>

#include <atomic>

#include "app/app_state.h"
#include "platform/handles.h"
#include "ui/actions.h"
#include "ui/paint.h"

namespace {

// oleacc is no KnownDLL: taken from System32 only, and optional.
struct Oleacc {
    decltype(&LresultFromObject) lresultFromObject = nullptr;
    decltype(&CreateStdAccessibleObject) createStdAccessibleObject = nullptr;
};

const Oleacc& oleacc() {
    static const Oleacc loaded = [] {
        Oleacc functions;
        HMODULE module = LoadLibraryExW(L"oleacc.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);  // kept loaded
        if (!module) return functions;
        functions.lresultFromObject = reinterpret_cast<decltype(&LresultFromObject)>(
            reinterpret_cast<void*>(GetProcAddress(module, "LresultFromObject")));
        functions.createStdAccessibleObject = reinterpret_cast<decltype(&CreateStdAccessibleObject)>(
            reinterpret_cast<void*>(GetProcAddress(module, "CreateStdAccessibleObject")));
        return functions;
    }();
    return loaded;
}

const std::vector<FrameControl>& controls() { return lastFrame().controls; }

// Child ids are 1-based positions among the frame's controls.
const FrameControl* controlOf(const VARIANT& child) {
    if (child.vt != VT_I4 || child.lVal < 1 || static_cast<size_t>(child.lVal) > controls().size()) return nullptr;
    return &controls()[static_cast<size_t>(child.lVal) - 1];
}

long childIdOf(int32_t controlId) {
    for (size_t i = 0; i < controls().size(); ++i)
        if (controls()[i].id == controlId) return static_cast<long>(i + 1);
    return CHILDID_SELF;
}

bool isSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

void setChild(VARIANT* out, long childId) {
    out->vt = VT_I4;
    out->lVal = childId;
}

HRESULT text(BSTR* out, const std::wstring& value) {
    *out = SysAllocString(value.c_str());
    return *out ? S_OK : E_OUTOFMEMORY;
}

class AccessibleClient : public IAccessible {
public:
    AccessibleClient(HWND window, IAccessible* standard) : window_(window) { *standard_.put() = standard; }

    void disconnect() { window_ = nullptr; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == __uuidof(IAccessible)) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    // IDispatch: screen readers call the interface directly.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        if (!window_) return RPC_E_DISCONNECTED;
        return standard_->get_accParent(parent);
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
        if (!window_) return RPC_E_DISCONNECTED;
        *count = static_cast<long>(controls().size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
        *out = nullptr;
        if (!window_) return RPC_E_DISCONNECTED;
        return controlOf(child) ? S_FALSE : E_INVALIDARG;  // the controls are simple elements of this object
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        *name = nullptr;
        if (!window_) return RPC_E_DISCONNECTED;
        if (isSelf(child)) return text(name, lastFrame().title);
        const FrameControl* control = controlOf(child);
        return control ? text(name, control->name) : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT, BSTR* value) override {
        *value = nullptr;
        return window_ ? DISP_E_MEMBERNOTFOUND : RPC_E_DISCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT, BSTR* description) override {
        *description = nullptr;
        return window_ ? DISP_E_MEMBERNOTFOUND : RPC_E_DISCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        VariantInit(role);
        if (!window_) return RPC_E_DISCONNECTED;
        if (isSelf(child)) {
            setChild(role, ROLE_SYSTEM_CLIENT);
            return S_OK;
        }
        const FrameControl* control = controlOf(child);
        if (!control) return E_INVALIDARG;
        setChild(role, control->kind == ControlKind::Button ? ROLE_SYSTEM_PUSHBUTTON : ROLE_SYSTEM_CHECKBUTTON);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        VariantInit(state);
        if (!window_) return RPC_E_DISCONNECTED;
        if (isSelf(child)) {
            setChild(state, STATE_SYSTEM_FOCUSABLE | (GetFocus() == window_ ? STATE_SYSTEM_FOCUSED : 0));
            return S_OK;
        }
        const FrameControl* control = controlOf(child);
        if (!control) return E_INVALIDARG;
        long flags = control->enabled ? STATE_SYSTEM_FOCUSABLE : STATE_SYSTEM_UNAVAILABLE;
        if (control->checked) flags |= STATE_SYSTEM_CHECKED;
        if (control->id == appState.focusedId) flags |= STATE_SYSTEM_FOCUSED;
        if (control->id == appState.hoveredId) flags |= STATE_SYSTEM_HOTTRACKED;
        if (control->id == appState.pressedId) flags |= STATE_SYSTEM_PRESSED;
        setChild(state, flags);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT, BSTR* help) override {
        *help = nullptr;
        return window_ ? DISP_E_MEMBERNOTFOUND : RPC_E_DISCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, long* topic) override {
        *file = nullptr;
        *topic = 0;
        return window_ ? DISP_E_MEMBERNOTFOUND : RPC_E_DISCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
        *shortcut = nullptr;
        if (!window_) return RPC_E_DISCONNECTED;
        const FrameControl* control = controlOf(child);
        if (control && control->id == MainButton) return text(shortcut, L"Enter");  // Enter acts on it anywhere
        return DISP_E_MEMBERNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        VariantInit(focus);
        if (!window_) return RPC_E_DISCONNECTED;
        if (GetFocus() != window_) return S_FALSE;
        setChild(focus, childIdOf(appState.focusedId));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        VariantInit(selection);
        return window_ ? S_FALSE : RPC_E_DISCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        *action = nullptr;
        if (!window_) return RPC_E_DISCONNECTED;
        const FrameControl* control = controlOf(child);
        if (!control) return isSelf(child) ? DISP_E_MEMBERNOTFOUND : E_INVALIDARG;
        if (control->kind == ControlKind::Button) return text(action, L"Нажать");
        return text(action, control->checked ? L"Снять отметку" : L"Отметить");
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
        if (!window_) return RPC_E_DISCONNECTED;
        const FrameControl* control = controlOf(child);
        if (!control || flags != SELFLAG_TAKEFOCUS || !control->enabled) return E_INVALIDARG;
        appState.focusedId = control->id;
        InvalidateRect(window_, nullptr, FALSE);
        notifyFocusMoved(window_, control->id);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height, VARIANT child) override {
        if (!window_) return RPC_E_DISCONNECTED;
        if (isSelf(child)) return standard_->accLocation(left, top, width, height, child);
        const FrameControl* control = controlOf(child);
        if (!control) return E_INVALIDARG;
        POINT corner{static_cast<LONG>(control->box.x), static_cast<LONG>(control->box.y)};
        ClientToScreen(window_, &corner);
        *left = corner.x;
        *top = corner.y;
        *width = static_cast<long>(control->box.width);
        *height = static_cast<long>(control->box.height);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
        VariantInit(end);
        if (!window_) return RPC_E_DISCONNECTED;
        const long count = static_cast<long>(controls().size());
        if (isSelf(start)) {
            if (direction == NAVDIR_FIRSTCHILD || direction == NAVDIR_LASTCHILD) {
                if (count == 0) return S_FALSE;
                setChild(end, direction == NAVDIR_FIRSTCHILD ? 1 : count);
                return S_OK;
            }
            return standard_->accNavigate(direction, start, end);
        }
        if (!controlOf(start)) return E_INVALIDARG;
        long next = 0;
        if (direction == NAVDIR_NEXT || direction == NAVDIR_DOWN || direction == NAVDIR_RIGHT) next = start.lVal + 1;
        if (direction == NAVDIR_PREVIOUS || direction == NAVDIR_UP || direction == NAVDIR_LEFT) next = start.lVal - 1;
        if (next < 1 || next > count) return S_FALSE;
        setChild(end, next);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* found) override {
        VariantInit(found);
        if (!window_) return RPC_E_DISCONNECTED;
        POINT point{x, y};
        ScreenToClient(window_, &point);
        RECT client;
        GetClientRect(window_, &client);
        if (!PtInRect(&client, point)) return S_FALSE;
        long childId = CHILDID_SELF;
        for (size_t i = 0; i < controls().size(); ++i) {
            const Box& b = controls()[i].box;
            if (point.x >= b.x && point.x < b.x + b.width && point.y >= b.y && point.y < b.y + b.height)
                childId = static_cast<long>(i + 1);
        }
        setChild(found, childId);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        if (!window_) return RPC_E_DISCONNECTED;
        const FrameControl* control = controlOf(child);
        if (!control) return isSelf(child) ? DISP_E_MEMBERNOTFOUND : E_INVALIDARG;
        if (!control->enabled) return E_FAIL;
        const int32_t id = control->id;  // the action may repaint, which replaces the controls
        performAction(id);
        notifyStateChanged(window_, id);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

private:
    virtual ~AccessibleClient() = default;

    std::atomic<ULONG> references_{1};
    HWND window_;
    ComPtr<IAccessible> standard_;
};

AccessibleClient* client = nullptr;  // one for the window, made when first asked for

}  // namespace

LRESULT accessibleClientResult(HWND window, WPARAM wParam) {
    const Oleacc& functions = oleacc();
    if (!functions.lresultFromObject || !functions.createStdAccessibleObject) return 0;
    if (!client) {
        IAccessible* standard = nullptr;
        if (FAILED(functions.createStdAccessibleObject(window, OBJID_CLIENT, __uuidof(IAccessible),
                                                       reinterpret_cast<void**>(&standard))) ||
            !standard)
            return 0;
        client = new AccessibleClient(window, standard);
    }
    const LRESULT result = functions.lresultFromObject(__uuidof(IAccessible), wParam, client);
    return result > 0 ? result : 0;
}

void releaseAccessibleClient() {
    if (!client) return;
    client->disconnect();
    CoDisconnectObject(client, 0);
    client->Release();
    client = nullptr;
}

void notifyFocusMoved(HWND window, int32_t controlId) {
    const long childId = childIdOf(controlId);
    if (childId != CHILDID_SELF) NotifyWinEvent(EVENT_OBJECT_FOCUS, window, OBJID_CLIENT, childId);
}

void notifyStateChanged(HWND window, int32_t controlId) {
    const long childId = childIdOf(controlId);
    if (childId != CHILDID_SELF) NotifyWinEvent(EVENT_OBJECT_STATECHANGE, window, OBJID_CLIENT, childId);
}
