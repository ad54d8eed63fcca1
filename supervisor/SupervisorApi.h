// The dial-up supervisor's interface: the six functions, the records they exchange and their codes.
//
// One definition for both sides: the program binds these functions at run
// time, and the simulated supervisor library implements them.
#pragma once

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

// Bit 0 of the flags word of a SuprvAccessInfo: the server answers calls on the device.
#define SUPRV_SERVER_ENABLED 0x00000001u

// Request codes of SuprvRequest.
#define SUPRV_REQUEST_STATUS 54u
#define SUPRV_REQUEST_USER 55u
#define SUPRV_REQUEST_DISCONNECT 56u

// Connection status codes that SUPRV_REQUEST_STATUS reports.
#define SUPRV_STATUS_IDLE 0
#define SUPRV_STATUS_HANGING_UP 1
#define SUPRV_STATUS_CONNECTED 2
#define SUPRV_STATUS_MONITORING 3
#define SUPRV_STATUS_ANSWERING_TIMEOUT 4
#define SUPRV_STATUS_CALLING_BACK 5
#define SUPRV_STATUS_ANSWERING 6
#define SUPRV_STATUS_MONITORING_FAILED 7

// A record of this many bytes or fewer cannot hold the fields below.
#define SUPRV_MINIMUM_RECORD_SIZE 476u
// Characters of the server type and of the comment that are ever shown.
#define SUPRV_SERVER_TYPE_LENGTH 4u
#define SUPRV_COMMENT_SHOWN 256u
#define SUPRV_USER_LENGTH 276u

// The fixed head of a device's access-info record. The supervisor announces
// the record's real size (always above SUPRV_MINIMUM_RECORD_SIZE); every byte
// not named here belongs to the supervisor and must reach SuprvSetAccessInfo
// exactly as SuprvGetAccessInfo left it. The head is no longer than the
// smallest record rounded up to whole 32-bit words, so it always lies inside
// a buffer of the announced size rounded that way.
struct SuprvAccessInfo {
    BYTE reserved1[129];
    char deviceType[19];  // Zero-terminated.
    DWORD flags;          // SUPRV_SERVER_ENABLED; the other bits are carried.
    BYTE reserved2[4];
    char serverType[SUPRV_SERVER_TYPE_LENGTH];  // Not necessarily terminated.
    BYTE reserved3[44];
    char comment[276];  // Zero-terminated, or running on into the rest of the record.
};
static_assert(offsetof(SuprvAccessInfo, deviceType) == 129, "device type at byte 129");
static_assert(offsetof(SuprvAccessInfo, flags) == 148, "flags at byte 148");
static_assert(offsetof(SuprvAccessInfo, serverType) == 156, "server type at byte 156");
static_assert(offsetof(SuprvAccessInfo, comment) == 204, "comment at byte 204");
static_assert(sizeof(SuprvAccessInfo) == (SUPRV_MINIMUM_RECORD_SIZE + 1 + 3) / 4 * 4,
              "the head fills the smallest record rounded to whole words");
static_assert(offsetof(SuprvAccessInfo, comment) + SUPRV_COMMENT_SHOWN < SUPRV_MINIMUM_RECORD_SIZE,
              "the shown part of the comment lies inside every record");

// Passed with SUPRV_REQUEST_STATUS; the address field is as wide as the
// platform's pointers.
struct SuprvStatusRequest {
    void* device;  // The device's SuprvAccessInfo.
    uint32_t zero1;
    int32_t status;  // -1 going in; the connection status coming back.
    uint32_t zero2;
};

// Passed with SUPRV_REQUEST_USER, zero-filled before the device is set.
struct SuprvUserRequest {
    void* device;  // The device's SuprvAccessInfo.
    char user[SUPRV_USER_LENGTH];  // The logged-in user; first byte zero means none.
};

static_assert(offsetof(SuprvStatusRequest, status) == sizeof(void*) + 4, "status follows one zero word");
static_assert(offsetof(SuprvUserRequest, user) == sizeof(void*), "user follows the address");
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(SuprvStatusRequest) == 16, "the 32-bit status request is 16 bytes");
static_assert(sizeof(SuprvUserRequest) == 280, "the 32-bit user request is 280 bytes");
#endif

// The six functions of the supervisor library, by their export names.
typedef uint32_t(WINAPI* SuprvInitializeProc)(uint32_t* zero);
typedef uint32_t(WINAPI* SuprvDeInitializeProc)(void);
typedef uint32_t(WINAPI* SuprvEnumAccessInfoProc)(char* buffer, uint32_t* byteCount, uint32_t* nameCount);
typedef uint32_t(WINAPI* SuprvGetAccessInfoProc)(const char* deviceName, void* record, uint32_t* size);
typedef uint32_t(WINAPI* SuprvSetAccessInfoProc)(void* record);
typedef uint32_t(WINAPI* SuprvRequestProc)(uint32_t code, void* request, uint32_t zero);

// Two optional exports, which only check_ringwarden looks up. A library may
// lack either (the system's own has neither): the program then goes without
// what it tells, and no other function's behaviour depends on them.
//
// SuprvGetCallStart: when the call on the device began, as a Unix time, in
// `*start`; 0 when the device is in no call or the start is not known. The
// record is the device's SuprvAccessInfo as SuprvGetAccessInfo filled it.
// Returns 0, or an error number as the other functions do.
typedef uint32_t(WINAPI* SuprvGetCallStartProc)(const void* record, uint64_t* start);
// SuprvDescribeFailure: what the library's last failed call failed on, in
// the operator's terms (such as which file and why), zero-terminated within
// `size` bytes; an empty text when it has nothing to add. Returns 0, or an
// error number as the other functions do.
typedef uint32_t(WINAPI* SuprvDescribeFailureProc)(char* text, uint32_t size);

#define SUPRV_LIBRARY_NAME "rasapi32.dll"
