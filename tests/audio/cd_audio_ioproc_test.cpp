// The disc as an mmio stream: whole frames per read, positions in frames, and
// the range's end honoured at every read.
#include "audio/cd_audio_ioproc.h"
#include "cd/disc_units.h"
#include "cd/scsi_commands.h"
#include "support/vdrive_fixture.h"

#include <gtest/gtest.h>

using namespace td_test;

namespace {

class CdAudioStream : public ::testing::Test {
  protected:
    void SetUp() override {
        disc = MakeDisc("400 100");
        VDevice& d = drive.AddCdRom(0, 2, disc.cuePath);
        d.unitAttention = false;
        d.readErrors = "300";
        ASSERT_TRUE(drive.Apply());
        InstallCdAudioIOProc();
        request.SRB_HaId = 0;
        request.SRB_Target = 2;
    }
    void TearDown() override {
        if (stream) mmioClose(stream, 0);
        RemoveCdAudioIOProc();
    }

    void Open(DWORD start, DWORD end) {
        SetStreamCurrentAddress(&request, start);
        SetStreamEndAddress(&request, end);
        MMIOINFO info = {};
        info.fccIOProc = kCdAudioFourcc;
        stream = mmioOpenA(reinterpret_cast<LPSTR>(&request), &info, 0);
        ASSERT_NE(stream, nullptr);
    }

    LONG Read(Bytes* into, DWORD bytes) {
        into->assign(bytes, 0xEE);
        return mmioRead(stream, reinterpret_cast<HPSTR>(into->data()), static_cast<LONG>(bytes));
    }

    VDisc disc;
    VirtualDrive drive;
    SRB_ExecSCSICmd request = {};
    HMMIO stream = nullptr;
};

} // namespace

TEST_F(CdAudioStream, ReadsWholeBlocksAndStopsAtTheRangeEnd) {
    Open(100, 162);
    Bytes got;
    EXPECT_EQ(Read(&got, kTransferBytes), LONG(kTransferBytes));
    EXPECT_TRUE(got == ExpectedFrames(disc, 100, kTransferFrames));
    EXPECT_EQ(Read(&got, kTransferBytes), LONG(kTransferBytes));
    EXPECT_EQ(Read(&got, kTransferBytes), LONG(10 * kFrameBytes)); // only the frames before the end
    EXPECT_TRUE(Bytes(got.begin(), got.begin() + 10 * kFrameBytes) ==
                ExpectedFrames(disc, 152, 10));
    size_t sent = drive.Commands().size();
    EXPECT_EQ(Read(&got, kTransferBytes), 0);
    EXPECT_EQ(drive.Commands().size(), sent); // nothing asked past the end
}

TEST_F(CdAudioStream, LessThanAFrameReadsNothing) {
    Open(0, 400);
    Bytes got;
    EXPECT_EQ(Read(&got, kFrameBytes - 1), 0);
    EXPECT_EQ(Read(&got, kFrameBytes), LONG(kFrameBytes));
    EXPECT_TRUE(got == ExpectedFrames(disc, 0, 1)); // the empty read did not move
}

TEST_F(CdAudioStream, SeeksByFrameAddressFromTheStartOnly) {
    Open(0, 400);
    EXPECT_EQ(mmioSeek(stream, 250, SEEK_SET), 250);
    EXPECT_EQ(mmioSeek(stream, 10, SEEK_CUR), 0);
    EXPECT_EQ(mmioSeek(stream, -10, SEEK_END), 0);
    Bytes got;
    EXPECT_EQ(Read(&got, kFrameBytes), LONG(kFrameBytes));
    EXPECT_TRUE(got == ExpectedFrames(disc, 250, 1));
}

TEST_F(CdAudioStream, AFailedReadLeavesThePositionForTheNextTry) {
    Open(290, 400);
    Bytes got;
    EXPECT_EQ(Read(&got, kTransferBytes), 0);
    drive.devices[0].readErrors.clear();
    ASSERT_TRUE(drive.Apply());
    EXPECT_EQ(Read(&got, kTransferBytes), LONG(kTransferBytes));
    EXPECT_TRUE(got == ExpectedFrames(disc, 290, kTransferFrames));
}

TEST_F(CdAudioStream, ClosingLeavesTheRequestAsItWas) {
    Open(100, 200);
    SRB_ExecSCSICmd before = request;
    EXPECT_EQ(mmioClose(stream, 0), 0u);
    stream = nullptr;
    EXPECT_EQ(memcmp(&before, &request, sizeof request), 0);
}
