// Replaces a function that this test program imports from a DLL, by rewriting
// its import-table entry, so a test can make one platform call fail. The
// product code is linked into the program, so its calls go through the same
// entry. Restored when the patch goes.
#pragma once
#include <windows.h>

class ImportPatch {
  public:
    ImportPatch(const char* dll, const char* function, void* replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

    bool Active() const { return slot_ != nullptr; }
    template <class Fn>
    Fn Original() const {
        return reinterpret_cast<Fn>(original_);
    }

  private:
    void Write(void* value);

    void** slot_ = nullptr;
    void* original_ = nullptr;
};
