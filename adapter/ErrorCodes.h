// Adapter status codes and their names. ErrorTable() is the one list; TranslateErrorCode reads it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

enum AdapterStatus : int16_t {
  VB_OK = 0,
  VB_LOST_SYNC = 1,
  VB_NO_USB = 2,
  VB_BAD_PEC = 3,
  VB_WRONG_NUM_BYTES = 5,
  VB_T2H_UNKNOWN = 6,
  VB_INCORRECT_PARAM = 7,
  VB_TIMEOUT_ERROR = 8,
  VB_INVALID_DATA = 9,
  VB_ERR_UNSOLICITED_PKT = 10,
  VB_COMPARE_DIFFERENT = 11,
  VB_ZENTIO_OCX_INTERNAL_ERROR = 12,
  VB_DEV_GG_MODE = 13,
  VB_DEV_ROM_MODE = 14,
  VB_USER_CANCELLED_OPERATION = 34,
  VB_DF_CHECKSUM_MISMATCH = 51,
  VB_IF_CHECKSUM_MISMATCH = 52,
  VB_ERR_TOO_MANY_QUERIES = 81,
  VB_ERR_BAD_QUERY_ID = 82,
  VB_BAD_CRC = 83,
  VB_ERR_TOO_MANY_RESPONSES = 84,
  VB_ERR_NO_QUERIES_TO_DELETE = 85,
  VB_ERR_QUERY_UNAVAILABLE = 86,
  VB_ERR_NO_RESPONSES_TO_DELETE = 87,
  VB_ERR_RESPONSE_UNAVAILABLE = 88,
  VB_ERR_TMMT_NO_RESPONSE = 90,
  VB_T2H_ERR_TIMEOUT = 92,
  VB_BUS_BUSY = 94,
  VB_T2H_ERR_BAD_SIZE = 95,
  VB_ERR_BAD_PAYLOAD_LEN = 97,
  VB_ERR_TMMT_LIST_FULL = 98,
  VB_ERR_TMMT_BAD_SELECTION = 99,
  VB_UNKNOWN = 100,
  VB_SREC_OPEN_FAIL = 221,
  VB_SREC_BAD_START_RECORD = 222,
  VB_SREC_UNKNOWN_TYPE = 223,
  VB_SREC_BAD_CHECKSUM = 224,
  VB_SREC_BAD_RECORD_COUNT = 225,
  VB_SREC_DEV_MISMATCH = 226,
  VB_CONFIG_OPEN_FAIL = 227,
  VB_CONFIG_UNEXPECTED_EOF = 228,
  VB_CONFIG_BAD_FORMAT = 229,
  VB_PCFG_DEVVER_MISMATCH = 231,
  VB_PCFG_DEV_MISMATCH = 232,
  VB_PCFG_SRECDEVVER_MISMATCH = 233,
  VB_PCFG_SRECDEV_MISMATCH = 234,
  VB_BCFG_DEVVER_MISMATCH = 235,
  VB_BCFG_DEV_MISMATCH = 236,
  VB_SMBC_LOCKED = 0x104,
  VB_SMBD_LOCKED = 0x204,
  VB_T2H_NACK = 0x304,
  VB_SMBD_LOW = 0x404,
  VB_SMB_LOCKED = 0x504,
};

struct ErrorName {
  int32_t code;
  const char* name;
};

// Every named code, "Communication OK" for 0 included.
std::span<const ErrorName> ErrorTable();
// The name of a code; "Unknown Error" for a code not in the table. StatusName is the lookup, for
// callers that write many names (the recordings, the journal) and need no string of their own.
std::string_view StatusName(int32_t code);
std::string TranslateErrorCode(int32_t nErrorCode);
