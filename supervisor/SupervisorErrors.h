// The error numbers a supervisor library returns from the six functions, in the Win32 numbering.
//
// The supervisor libraries link against the C library alone, so this list
// needs neither windows.h nor C++. The program reads any of these numbers as
// a Win32 error code, so each must be one the system can put into words.
#pragma once

#define SUPRV_OK 0u
#define SUPRV_ERROR_FILE_NOT_FOUND 2u
#define SUPRV_ERROR_ACCESS_DENIED 5u
#define SUPRV_ERROR_NOT_ENOUGH_MEMORY 8u
#define SUPRV_ERROR_INVALID_DATA 13u
#define SUPRV_ERROR_NOT_READY 21u
#define SUPRV_ERROR_WRITE_FAULT 29u
#define SUPRV_ERROR_READ_FAULT 30u
#define SUPRV_ERROR_GEN_FAILURE 31u
#define SUPRV_ERROR_NOT_SUPPORTED 50u
#define SUPRV_ERROR_DEVICE_NOT_EXIST 55u
#define SUPRV_ERROR_INVALID_PARAMETER 87u
#define SUPRV_ERROR_DISK_FULL 112u
#define SUPRV_ERROR_INSUFFICIENT_BUFFER 122u
#define SUPRV_ERROR_BAD_PATH 161u
#define SUPRV_ERROR_BUSY 170u
