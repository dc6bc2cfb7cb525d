// Small owners for GDI and resource handles, so that every early return gives
// back what a drawing took.
#pragma once
#include <windows.h>

// A window's device context from GetDC, released on scope exit.
class WindowDC {
  public:
    explicit WindowDC(HWND hwnd) : hwnd_(hwnd), dc_(GetDC(hwnd)) {}
    ~WindowDC() {
        if (dc_) ReleaseDC(hwnd_, dc_);
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    HDC Get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

  private:
    HWND hwnd_;
    HDC dc_;
};

// A memory device context compatible with another, deleted on scope exit.
class MemoryDC {
  public:
    explicit MemoryDC(HDC compatibleWith) : dc_(CreateCompatibleDC(compatibleWith)) {}
    ~MemoryDC() {
        if (dc_) DeleteDC(dc_);
    }
    MemoryDC(const MemoryDC&) = delete;
    MemoryDC& operator=(const MemoryDC&) = delete;
    HDC Get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

  private:
    HDC dc_;
};

// Selects an object into a context and puts the previous one back on scope exit.
class SelectedObject {
  public:
    SelectedObject(HDC dc, HGDIOBJ object)
        : dc_(dc), previous_(dc && object ? SelectObject(dc, object) : nullptr) {}
    ~SelectedObject() {
        if (previous_) SelectObject(dc_, previous_);
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

  private:
    HDC dc_;
    HGDIOBJ previous_;
};

// Owns a GDI object (bitmap, brush, font, region) and deletes it on scope exit.
template <class Handle>
class GdiObject {
  public:
    explicit GdiObject(Handle handle = nullptr) : handle_(handle) {}
    ~GdiObject() {
        if (handle_) DeleteObject(handle_);
    }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    Handle Get() const { return handle_; }
    // Gives the handle up to the caller, who then deletes it.
    Handle Release() {
        Handle h = handle_;
        handle_ = nullptr;
        return h;
    }
    explicit operator bool() const { return handle_ != nullptr; }

  private:
    Handle handle_;
};

// A resource found by name and type, loaded and locked, and freed on scope exit.
class LockedResource {
  public:
    LockedResource(HMODULE module, const char* name, const char* type)
        : handle_(Load(module, name, type)), data_(handle_ ? LockResource(handle_) : nullptr) {}
    ~LockedResource() {
        if (handle_) FreeResource(handle_);
    }
    LockedResource(const LockedResource&) = delete;
    LockedResource& operator=(const LockedResource&) = delete;
    HGLOBAL Handle() const { return handle_; }
    const void* Data() const { return data_; }
    explicit operator bool() const { return data_ != nullptr; }

  private:
    static HGLOBAL Load(HMODULE module, const char* name, const char* type) {
        HRSRC found = name ? FindResourceA(module, name, type) : nullptr;
        return found ? LoadResource(module, found) : nullptr;
    }
    HGLOBAL handle_;
    const void* data_;
};
