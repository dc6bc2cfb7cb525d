// The program's allocation functions, straight over the process heap. The
// product is built without exceptions, so nothing could catch a bad_alloc:
// the C++ runtime's versions would only bring its exception machinery (and
// the demangler of its terminate handler) into the program for nothing.
#include <windows.h>

#include <new>

void* operator new(size_t bytes, const std::nothrow_t&) noexcept {
    return HeapAlloc(GetProcessHeap(), 0, bytes);
}

void* operator new[](size_t bytes, const std::nothrow_t&) noexcept {
    return HeapAlloc(GetProcessHeap(), 0, bytes);
}

// The throwing forms have nobody to throw to: running out of memory there ends
// the program with the system's STATUS_NO_MEMORY, never with a null pointer.
void* operator new(size_t bytes) {
    return HeapAlloc(GetProcessHeap(), HEAP_GENERATE_EXCEPTIONS, bytes);
}

void* operator new[](size_t bytes) {
    return HeapAlloc(GetProcessHeap(), HEAP_GENERATE_EXCEPTIONS, bytes);
}

void operator delete(void* block) noexcept {
    if (block) HeapFree(GetProcessHeap(), 0, block);
}

void operator delete[](void* block) noexcept {
    operator delete(block);
}

void operator delete(void* block, size_t) noexcept {
    operator delete(block);
}

void operator delete[](void* block, size_t) noexcept {
    operator delete(block);
}
