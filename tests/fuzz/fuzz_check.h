// A broken expectation inside a fuzz target: says which, then aborts, so that
// libFuzzer keeps the input that did it as a reproducer.
#pragma once
#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void FuzzFail(const char* file, int line, const char* expected) {
    std::fprintf(stderr, "%s:%d: expected %s\n", file, line, expected);
    std::abort();
}

#define FUZZ_CHECK(condition) ((condition) ? void(0) : FuzzFail(__FILE__, __LINE__, #condition))
