// Result codes shared by every layer. The low 16 bits are used: bit 15 marks a
// failure, bits 8..14 hold the category, the low bits the number. 0 is success.
#pragma once

#include <cstdint>

typedef std::uint32_t XpResult;

inline bool XpSucceeded(XpResult r) { return r == 0; }
inline bool XpFailed(XpResult r) { return r != 0; }

// Category 0: generic.
const XpResult XP_OK = 0;
const XpResult XP_E_FAIL = 0x8000;

// Category 1: file system and devices.
const XpResult XP_E_FILE = 0x8100;               // unclassified file failure
const XpResult XP_E_FILE_NOT_ACTIVE = 0x8101;    // no enumeration / file not open
const XpResult XP_E_FILE_BAD_ARGUMENT = 0x8102;  // also: command line too long
const XpResult XP_E_FILE_EOF = 0x8103;
const XpResult XP_E_FILE_BUFFER_TOO_SMALL = 0x8104;
const XpResult XP_E_FILE_NOT_FOUND = 0x8105;
const XpResult XP_E_PATH_NOT_FOUND = 0x8106;
const XpResult XP_E_FILE_ALREADY_OPEN = 0x8107;
const XpResult XP_E_ACCESS_DENIED = 0x8108;
const XpResult XP_E_DISK_FULL = 0x8109;
const XpResult XP_E_ALREADY_EXISTS = 0x810A;
const XpResult XP_E_TOO_MANY_OPEN_FILES = 0x810B;
const XpResult XP_E_OPEN_FAILED = 0x810D;
const XpResult XP_E_FILE_NOT_OPEN = 0x810E;
const XpResult XP_E_DELETE_FAILED = 0x810F;
const XpResult XP_E_CREATE_FAILED = 0x8111;
const XpResult XP_E_MKDIR_FAILED = 0x8112;
const XpResult XP_E_NOT_SUPPORTED = 0x8116;
const XpResult XP_E_DIR_NOT_EMPTY = 0x8117;
const XpResult XP_E_FILE_INVALID = 0x8119;
const XpResult XP_E_DEVICE_NOT_READY = 0x811A;

// Category 2: synchronisation and threads.
const XpResult XP_E_SYNC = 0x8200;
const XpResult XP_E_TIMEOUT = 0x8201;
const XpResult XP_E_NOT_OWNER = 0x8202;
const XpResult XP_E_SYNC_NOT_SUPPORTED = 0x8203;
const XpResult XP_E_ABANDONED = 0x8204;
const XpResult XP_E_SELF_JOIN = 0x8205;
const XpResult XP_E_INVALID_HANDLE = 0x8206;
const XpResult XP_E_PRIORITY = 0x8207;
// A wait ended by the caller's own cancel request (not by a mutex whose
// owner died, which is XP_E_ABANDONED).
const XpResult XP_E_CANCELLED = 0x8208;

// Category 4: memory.
const XpResult XP_E_OUT_OF_MEMORY = 0x8401;

// Category 5: property lists.
const XpResult XP_E_INI_FILE = 0x8500;  // no document element, or the output failed
const XpResult XP_E_INI_NOT_SUPPORTED = 0x8501;
const XpResult XP_E_INI_NOT_FOUND = 0x8502;
const XpResult XP_E_INI_PARSE = 0x8503;
const XpResult XP_E_INI_BAD_DOCUMENT = 0x8504;
const XpResult XP_E_INI_COM = 0x8505;
const XpResult XP_E_INI_NO_DOM = 0x8506;
const XpResult XP_E_INI_BAD_TYPE = 0x8507;
const XpResult XP_E_INI_KEY_EXISTS = 0x8508;
const XpResult XP_E_INI_RANGE = 0x8509;

// Category 6: device serial numbers.
const XpResult XP_E_NO_SERIAL = 0x8601;
