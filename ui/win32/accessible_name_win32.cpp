// Accessible names on Win32. A control's name comes from the system's own
// accessible object (a label before an edit line names it on Windows); a
// control given a name of its own answers WM_GETOBJECT with a thin object
// that says that name and hands everything else to the system's object.

#include "ui/win32/win32_backend.h"
// windows.h first.
#include <commctrl.h>
#include <oleacc.h>

#include <atomic>
#include <map>
#include <new>
#include <string>

namespace plimsy::ui::win32 {
namespace {

constexpr UINT_PTR kSubclassId = 0x504C4D41;  // "PLMA"

// The system's accessible object of a control with another name.
class cNamedAccessible final : public IAccessible {
 public:
  cNamedAccessible(IAccessible* inner, const std::wstring& name) : inner_(inner), name_(name) {}
  cNamedAccessible(const cNamedAccessible&) = delete;
  cNamedAccessible& operator=(const cNamedAccessible&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IDispatch) || IsEqualIID(id, IID_IAccessible)) {
      *object = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    // The system object's other faces (the window behind it, its children).
    return inner_->QueryInterface(id, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return inner_->GetTypeInfoCount(count); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
    return inner_->GetTypeInfo(index, locale, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID id, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override {
    return inner_->GetIDsOfNames(id, names, count, locale, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID id, LCID locale, WORD flags, DISPPARAMS* parameters,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argument) override {
    return inner_->Invoke(member, id, locale, flags, parameters, result, exception, argument);
  }

  // IAccessible: the name of the control itself is ours.
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    if (!name) return E_POINTER;
    if (child.vt == VT_I4 && child.lVal == CHILDID_SELF) {
      *name = SysAllocStringLen(name_.data(), static_cast<UINT>(name_.size()));
      return *name ? S_OK : E_OUTOFMEMORY;
    }
    return inner_->get_accName(child, name);
  }
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override { return inner_->get_accParent(parent); }
  HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override { return inner_->get_accChildCount(count); }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override {
    return inner_->get_accChild(child, object);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    return inner_->get_accValue(child, value);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
    return inner_->get_accDescription(child, text);
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    return inner_->get_accRole(child, role);
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
    return inner_->get_accState(child, state);
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override { return inner_->get_accHelp(child, help); }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override {
    return inner_->get_accHelpTopic(file, child, topic);
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
    return inner_->get_accKeyboardShortcut(child, shortcut);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override { return inner_->get_accFocus(child); }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override { return inner_->get_accSelection(children); }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
    return inner_->get_accDefaultAction(child, action);
  }
  HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override { return inner_->accSelect(flags, child); }
  HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height, VARIANT child) override {
    return inner_->accLocation(left, top, width, height, child);
  }
  HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
    return inner_->accNavigate(direction, start, end);
  }
  HRESULT STDMETHODCALLTYPE accHitTest(long left, long top, VARIANT* child) override {
    return inner_->accHitTest(left, top, child);
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override { return inner_->accDoDefaultAction(child); }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override { return inner_->put_accName(child, name); }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
    return inner_->put_accValue(child, value);
  }

 private:
  ~cNamedAccessible() { inner_->Release(); }

  IAccessible* inner_;
  std::wstring name_;
  std::atomic<ULONG> references_{1};
};

// The names given, by control (GUI thread only).
std::map<HWND, std::wstring>& names() {
  static std::map<HWND, std::wstring> given;
  return given;
}

LRESULT CALLBACK namedControlProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  const auto name = names().find(window);
  if (message == WM_GETOBJECT && static_cast<LONG>(lParam) == OBJID_CLIENT && name != names().end()) {
    IAccessible* system = nullptr;
    if (SUCCEEDED(
            CreateStdAccessibleObject(window, OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&system)))) {
      auto* named = new (std::nothrow) cNamedAccessible(system, name->second);
      if (!named) {
        system->Release();
      } else {
        const LRESULT result = LresultFromObject(IID_IAccessible, wParam, named);
        named->Release();
        return result;
      }
    }
  }
  if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(window, namedControlProcedure, kSubclassId);
    if (name != names().end()) names().erase(name);
  }
  return DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace

void setAccessibleName(HWND control, const std::wstring& name) {
  if (!control) return;
  // A second name replaces the first; the subclass stays one.
  if (SetWindowSubclass(control, namedControlProcedure, kSubclassId, 0)) names()[control] = name;
}

}  // namespace plimsy::ui::win32
