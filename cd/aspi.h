// ASPI for Win32: the request block and codes of the published interface, shared
// by the transport and the virtual drive.
#pragma once
#include <windows.h>

constexpr BYTE SC_HA_INQUIRY = 0x00;
constexpr BYTE SC_GET_DEV_TYPE = 0x01;
constexpr BYTE SC_EXEC_SCSI_CMD = 0x02;
constexpr BYTE SC_ABORT_SRB = 0x03;

constexpr BYTE SS_PENDING = 0x00;
constexpr BYTE SS_COMP = 0x01;
constexpr BYTE SS_ABORTED = 0x02;
constexpr BYTE SS_ERR = 0x04;
constexpr BYTE SS_INVALID_HA = 0x81;
constexpr BYTE SS_NO_DEVICE = 0x82;
constexpr BYTE SS_INVALID_SRB = 0xE0;
constexpr BYTE SS_NO_ADAPTERS = 0xE8;

constexpr BYTE SRB_POSTING = 0x01;
constexpr BYTE SRB_DIR_IN = 0x08;
constexpr BYTE SRB_DIR_OUT = 0x10;
constexpr BYTE SRB_EVENT_NOTIFY = 0x40;

constexpr BYTE HASTAT_OK = 0x00;
constexpr BYTE HASTAT_COMMAND_TIMEOUT = 0x0B; // the adapter gave up waiting for the target
constexpr BYTE HASTAT_DO_DU = 0x12;           // data over-run or under-run

constexpr BYTE STATUS_GOOD = 0x00;
constexpr BYTE STATUS_CHKCOND = 0x02;

constexpr int SENSE_LEN = 14;

#pragma pack(push, 1)

// Every command travels in this block; ASPI writes the status, the target
// status, the sense area and the data, then signals SRB_PostProc.
struct SRB_ExecSCSICmd {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE SRB_Target;
    BYTE SRB_Lun;
    WORD SRB_Rsvd1;
    DWORD SRB_BufLen;
    BYTE* SRB_BufPointer;
    BYTE SRB_SenseLen;
    BYTE SRB_CDBLen;
    BYTE SRB_HaStat;
    BYTE SRB_TargStat;
    void* SRB_PostProc;
    BYTE SRB_Rsvd2[20];
    BYTE CDBByte[16];
    BYTE SenseArea[SENSE_LEN + 2];
};

struct SRB_HAInquiry {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE HA_Count;
    BYTE HA_SCSI_ID;
    BYTE HA_ManagerId[16];
    BYTE HA_Identifier[16];
    BYTE HA_Unique[16];
    WORD HA_Rsvd1;
};

struct SRB_GDEVBlock {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE SRB_Target;
    BYTE SRB_Lun;
    BYTE SRB_DeviceType;
    BYTE SRB_Rsvd1;
};

struct SRB_Abort {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    void* SRB_ToAbort;
};

#pragma pack(pop)

#ifndef _WIN64
static_assert(sizeof(SRB_ExecSCSICmd) == 80, "ASPI request block layout");
#else
static_assert(sizeof(SRB_ExecSCSICmd) == 88, "ASPI request block layout");
#endif

// The two entry points, exported by WNASPI32 as ordinals 1 and 2.
using GetASPI32SupportInfoFn = DWORD(__cdecl*)();
using SendASPI32CommandFn = DWORD(__cdecl*)(void* srb);
