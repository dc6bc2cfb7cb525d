// A source stream for the streamer, served from a byte pattern through an mmio
// I/O procedure, whose reads can be made to fail.
#pragma once
#include "support/test_env.h"

#include <mmsystem.h>

struct FakeSource {
    DWORD size = 0; // bytes it holds
    DWORD base = 0; // pattern offset of its first byte, to tell sources apart
    DWORD position = 0;
    int reads = 0;             // read requests so far, numbered from 0
    int failFrom = 0x7FFFFFFF; // requests failFrom .. failTo answer failResult
    int failTo = 0x7FFFFFFF;
    LONG failResult = 0;
    int closes = 0;
};

// Opens `source` as a stream (it must outlive the stream).
HMMIO OpenFakeSource(FakeSource* source);

// The pattern: no byte is 0, so no frame of it is silence.
td_test::Bytes FakeBytes(DWORD from, DWORD count);
