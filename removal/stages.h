// The stages of RemoveProduct, their fixed tables and the small helpers they share.
#pragma once

#include "platform.h"
#include "removal.h"

// Builds up to this number are the first release of Windows 95.
#define BUILD_GATE 950

// A pass of the instance-key walk goes on while its budget counter is at most this.
#define PROBE_BUDGET 100

// File-name slot tables: slots of FILE_SLOT_SIZE bytes, each a NUL-padded bare file name, the
// table ended by an empty slot.
#define FILE_SLOT_SIZE 20
typedef char FILE_SLOT[FILE_SLOT_SIZE];

// The INF scan: the name list starts with INF_NAME_LIMIT entries and doubles whenever it is
// full; a word is at most INF_WORD_SIZE - 1 characters.
#define INF_NAME_LIMIT 200
#define INF_WORD_SIZE 200
#define INF_MARKER "KB47STAT.EXE"

typedef struct {
  HKEY root;
  LPCSTR path;
} REGISTRY_KEY;

typedef struct {
  LPCSTR baseKey;    // under HKEY_LOCAL_MACHINE
  LPCSTR valueName;  // compared with PRINTER_NAME
} INSTANCE_PASS;

extern const REGISTRY_KEY PRODUCT_KEYS[11];
extern const REGISTRY_KEY LATER_RELEASE_KEYS[3];
extern const INSTANCE_PASS INSTANCE_PASSES[2];
extern const FILE_SLOT SYSTEM_FILES[15];
extern const FILE_SLOT DEFERRED_FILES[6];

// The stages, in the order RemoveProduct runs them. A directory given as "" is unknown: every
// operation that needs it is skipped.
void RemoveRegistryKeys(WORD buildNumber);
void PurgeInstanceKeys(void);
void RemovePrinterProfileEntries(void);
void RemoveStartMenuGroup(void);
void RemoveInstalledFiles(LPCSTR systemDirectory, LPCSTR windowsDirectory, WORD buildNumber);
void PurgeMarkedInfFiles(LPCSTR directory, LPCSTR pattern, LPCSTR marker);
int ScheduleDeferredDeletion(LPCSTR systemDirectory, LPCSTR windowsDirectory);

// Paths and names live in MAX_PATH buffers. StartPath copies a first piece and AppendPath adds
// one; each acts only when the whole still fits with its NUL and reports whether it did, so a
// path is never cut (a cut path can name another file).
BOOL StartPath(LPSTR path, LPCSTR first);
BOOL AppendPath(LPSTR path, LPCSTR piece);
// Builds folder, a backslash and name by the same rule: FALSE when the whole would not fit.
BOOL JoinPath(LPSTR path, LPCSTR folder, LPCSTR name);

// Whether registry data of size bytes, read into a buffer of bufferSize bytes, holds its NUL.
BOOL IsNulEnded(LPCSTR data, DWORD size, DWORD bufferSize);
// Reads the string value name of an open key into buffer; TRUE only when it was read whole, with
// its NUL. What a failed read leaves in buffer is not a value.
BOOL ReadStringValue(HKEY key, LPCSTR name, LPSTR buffer, DWORD bufferSize);

// The number of names in a slot table: the slots before its first empty one.
int CountFileSlots(const FILE_SLOT* table);
