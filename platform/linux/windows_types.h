// Stand-ins for the Windows definitions the loader names: the same names, values and interface
// slots, in the global namespace as the system headers have them, so that the loader's logic reads
// the same on every host.
#pragma once

#include <cstddef>
#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using UINT = unsigned int;
using INT_PTR = std::intptr_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LPCWSTR = const wchar_t*;
using HRESULT = std::int32_t;

// The calling-convention markers mean nothing on this host.
#define STDMETHODCALLTYPE
#define CALLBACK

inline constexpr std::size_t MAX_PATH = 260;
inline constexpr int FALSE = 0;
inline constexpr int TRUE = 1;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
using IID = GUID;
using REFIID = const IID&;

inline bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) {
    return false;
  }
  for (int i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) {
      return false;
    }
  }
  return true;
}

inline constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IBindStatusCallback = {
    0x79EAC9C1, 0xBAF9, 0x11CE, {0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B}};

// The progress notifications (BINDSTATUS values) that the loader looks at.
inline constexpr ULONG BINDSTATUS_BEGINDOWNLOADDATA = 4;
inline constexpr ULONG BINDSTATUS_DOWNLOADINGDATA = 5;
inline constexpr ULONG BINDSTATUS_ENDDOWNLOADDATA = 6;

// Only named by the interface below; never defined on this host.
struct IBinding;
struct BINDINFO;
struct FORMATETC;
struct STGMEDIUM;

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;

 protected:
  ~IUnknown() = default;
};

// The download-progress interface, slot for slot.
struct IBindStatusCallback : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                               LPCWSTR statusText) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR error) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* bindInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format,
                                                    STGMEDIUM* medium) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID riid, IUnknown* object) = 0;

 protected:
  ~IBindStatusCallback() = default;
};

// Window messages, command ids, metrics and styles.
inline constexpr UINT WM_SETTEXT = 0x000C;
inline constexpr UINT WM_INITDIALOG = 0x0110;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int SM_CXSCREEN = 0;
inline constexpr int SM_CYSCREEN = 1;

inline constexpr DWORD WS_POPUP = 0x80000000;
inline constexpr DWORD WS_CHILD = 0x40000000;
inline constexpr DWORD WS_VISIBLE = 0x10000000;
inline constexpr DWORD WS_BORDER = 0x00800000;
inline constexpr DWORD WS_GROUP = 0x00020000;
inline constexpr DWORD WS_TABSTOP = 0x00010000;
inline constexpr DWORD DS_SETFONT = 0x0040;
inline constexpr DWORD DS_FIXEDSYS = 0x0008;
inline constexpr DWORD BS_PUSHBUTTON = 0x0000;
inline constexpr DWORD BS_DEFPUSHBUTTON = 0x0001;
inline constexpr DWORD ES_AUTOHSCROLL = 0x0080;

// File attributes.
inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

namespace platform {

struct Window;  // owned by the front end
using WindowHandle = Window*;
using DialogProc = INT_PTR (*)(WindowHandle dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace platform
