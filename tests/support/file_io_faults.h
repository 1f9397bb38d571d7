// Reads and writes that fail on demand, for the Windows test programs that run the C runtime's
// text files over KERNEL32 (the platform's test program under Wine, the text-mode program in the
// emulator): the program's own import slots of ReadFile and WriteFile are pointed at stand-ins
// that fail while they are told to, so that the runtime meets a failing disk without knowing.
// Written as plain C over the Windows names, so that a program with no C runtime of the
// compiler's can include it.
#ifndef RK514_TESTS_SUPPORT_FILE_IO_FAULTS_H
#define RK514_TESTS_SUPPORT_FILE_IO_FAULTS_H

#include "platform.h"

typedef BOOL(WINAPI* ReadFileFunction)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
typedef BOOL(WINAPI* WriteFileFunction)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);

struct FileIoFaults {
  ReadFileFunction realReadFile;
  WriteFileFunction realWriteFile;
  BOOL readsFail;
  BOOL writesFail;
  HANDLE spared;                       // whose writes go through even while writes fail
  void(WINAPI* setLastError)(DWORD);   // how a failure is told; NULL where nothing binds SetLastError
};

static struct FileIoFaults g_fileIoFaults = {NULL, NULL, FALSE, FALSE, INVALID_HANDLE_VALUE, NULL};

static BOOL WINAPI ReadFileOrFail(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped)
{
  if (!g_fileIoFaults.readsFail)
    return g_fileIoFaults.realReadFile(file, buffer, size, read, overlapped);
  if (read != NULL)
    *read = 0;
  if (g_fileIoFaults.setLastError != NULL)
    g_fileIoFaults.setLastError(ERROR_READ_FAULT);
  return FALSE;
}

static BOOL WINAPI WriteFileOrFail(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written,
                                   LPOVERLAPPED overlapped)
{
  if (!g_fileIoFaults.writesFail || file == g_fileIoFaults.spared)
    return g_fileIoFaults.realWriteFile(file, buffer, size, written, overlapped);
  if (written != NULL)
    *written = 0;
  if (g_fileIoFaults.setLastError != NULL)
    g_fileIoFaults.setLastError(ERROR_WRITE_FAULT);
  return FALSE;
}

// Puts replacement in the import slot of KERNEL32's name; returns what the slot held, or NULL
// when the program does not import it. Where the slots are write-protected (a loaded image), the
// page is opened for the write with protect, and closed again after.
static void* ReplaceImport(const char* name, void* replacement,
                           BOOL(WINAPI* protect)(LPVOID, SIZE_T, DWORD, PDWORD))
{
  BYTE* base = (BYTE*)GetModuleHandleA(NULL);
  const IMAGE_NT_HEADERS* nt = (const IMAGE_NT_HEADERS*)(base + ((const IMAGE_DOS_HEADER*)base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY* imports = &nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (const IMAGE_IMPORT_DESCRIPTOR* dll = (const IMAGE_IMPORT_DESCRIPTOR*)(base + imports->VirtualAddress);
       dll->Name != 0; ++dll) {
    if (lstrcmpiA((const char*)(base + dll->Name), "kernel32.dll") != 0)
      continue;
    const IMAGE_THUNK_DATA* names = (const IMAGE_THUNK_DATA*)(base + dll->OriginalFirstThunk);
    IMAGE_THUNK_DATA* slots = (IMAGE_THUNK_DATA*)(base + dll->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
        continue;
      const IMAGE_IMPORT_BY_NAME* byName = (const IMAGE_IMPORT_BY_NAME*)(base + names->u1.AddressOfData);
      if (lstrcmpA((const char*)byName->Name, name) != 0)
        continue;
      DWORD protection = 0;
      if (protect != NULL && !protect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection))
        return NULL;
      void* previous = (void*)slots->u1.Function;
      slots->u1.Function = (ULONG_PTR)replacement;
      if (protect != NULL)
        protect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
      return previous;
    }
  }
  return NULL;
}

// Points ReadFile and WriteFile at the stand-ins. FALSE when the program imports either not.
static BOOL InterceptFileIo(BOOL(WINAPI* protect)(LPVOID, SIZE_T, DWORD, PDWORD))
{
  g_fileIoFaults.realReadFile = (ReadFileFunction)ReplaceImport("ReadFile", (void*)ReadFileOrFail, protect);
  g_fileIoFaults.realWriteFile = (WriteFileFunction)ReplaceImport("WriteFile", (void*)WriteFileOrFail, protect);
  return g_fileIoFaults.realReadFile != NULL && g_fileIoFaults.realWriteFile != NULL;
}

#endif
