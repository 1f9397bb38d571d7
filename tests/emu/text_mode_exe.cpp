// A small Windows program for the emulated runs of the text-mode table (text_mode_test.cpp): it
// takes the steps of a script on the program's own C runtime (platform/win/crt.cpp, which it
// links as KB47UNIN.EXE does) and writes down each result. Built by the win32 tree as a GUI
// program with no C runtime of the compiler's, so that it imports only what the runner binds.
//
// C:\TEXTMODE\SCRIPT.BIN holds commands, each an op byte, a 4-byte length and that many bytes:
//   'O' mode ('r' or 'a') and a path: fopen    'R' a count (-1: to EOF): fgetc calls
//   'T' ftell   'P' text: fputs   'L' text: fprintf "%s\n"   'C' fclose
//   'G' a path, a NUL and bytes: appended raw through a handle of its own   'E' ferror
//   'F' 'r' or 'w': from here to the case's fclose, every ReadFile or WriteFile of the runtime
//   fails (the program's own import slots lead to a stand-in that fails; the results file's
//   writes go through)
// C:\TEXTMODE\RESULTS.BIN gets one record per result: a 4-byte length and 4-byte values (fopen:
// 1 or 0; fgetc: every value it gave, for a count of -1 all but the final EOF). After an fopen
// that failed, the case's other commands are passed over.
#include "platform.h"
#include "file_io_faults.h"

static const char SCRIPT_PATH[] = "C:\\TEXTMODE\\SCRIPT.BIN";
static const char RESULTS_PATH[] = "C:\\TEXTMODE\\RESULTS.BIN";

static HANDLE g_results = INVALID_HANDLE_VALUE;

static void WriteRaw(HANDLE handle, const void* bytes, DWORD size)
{
  DWORD written = 0;
  WriteFile(handle, bytes, size, &written, NULL);
}

static void Result(const int* values, DWORD count)
{
  DWORD size = count * 4;
  WriteRaw(g_results, &size, 4);
  WriteRaw(g_results, values, size);
}

static void One(int value)
{
  Result(&value, 1);
}

static DWORD Word32(const char* at)
{
  DWORD value;
  memcpy(&value, at, 4);
  return value;
}

static void Grow(const char* payload, DWORD size)
{
  const char* text = payload;
  while (*text != '\0')
    ++text;
  ++text;
  HANDLE file = CreateFileA(payload, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  BOOL ok = file != INVALID_HANDLE_VALUE && SetFilePointer(file, 0, NULL, FILE_END) != INVALID_SET_FILE_POINTER;
  if (ok)
    WriteRaw(file, text, (DWORD)(payload + size - text));
  if (file != INVALID_HANDLE_VALUE)
    CloseHandle(file);
  One(ok);
}

static void Read(FILE* file, int count)
{
  static int values[70000 + 16];
  DWORD taken = 0;
  if (count < 0) {
    for (int c = fgetc(file); c != EOF && taken < sizeof values / sizeof values[0]; c = fgetc(file))
      values[taken++] = c;
  } else {
    for (int i = 0; i < count && taken < sizeof values / sizeof values[0]; ++i)
      values[taken++] = fgetc(file);
  }
  Result(values, taken);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand)
{
  (void)instance;
  (void)previous;
  (void)commandLine;
  (void)showCommand;
  HANDLE script = CreateFileA(SCRIPT_PATH, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              NULL);
  if (script == INVALID_HANDLE_VALUE)
    return 1;
  DWORD size = GetFileSize(script, NULL);
  char* commands = (char*)malloc(size + 1);
  DWORD read = 0;
  if (commands == NULL || !ReadFile(script, commands, size, &read, NULL) || read != size)
    return 2;
  CloseHandle(script);
  // The image's slots are plain memory in the emulator: no protection to lift.
  if (!InterceptFileIo(NULL))
    return 4;
  g_results = CreateFileA(RESULTS_PATH, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (g_results == INVALID_HANDLE_VALUE)
    return 3;
  g_fileIoFaults.spared = g_results;

  FILE* file = NULL;
  BOOL skipping = FALSE;
  for (DWORD at = 0; at + 5 <= size;) {
    char op = commands[at];
    DWORD length = Word32(commands + at + 1);
    char* payload = commands + at + 5;
    at += 5 + length;
    // The text commands need their text NUL-ended: the next command's op byte is kept aside.
    char next = commands[at];
    commands[at] = '\0';
    if (op == 'O') {
      // The runtime takes its open modes as constants, checked while compiling.
      file = payload[0] == 'a' ? fopen(payload + 1, "a+") : fopen(payload + 1, "r");
      skipping = file == NULL;
      One(file != NULL);
    } else if (skipping) {
    } else if (op == 'R') {
      Read(file, (int)Word32(payload));
    } else if (op == 'T') {
      One((int)ftell(file));
    } else if (op == 'P') {
      One(fputs(payload, file));
    } else if (op == 'L') {
      One(fprintf(file, "%s\n", payload));
    } else if (op == 'G') {
      Grow(payload, length);
    } else if (op == 'E') {
      One(ferror(file) != 0);
    } else if (op == 'F') {
      if (payload[0] == 'r')
        g_fileIoFaults.readsFail = TRUE;
      else
        g_fileIoFaults.writesFail = TRUE;
    } else if (op == 'C') {
      One(fclose(file));
      file = NULL;
    }
    if (op == 'C' || (op == 'O' && skipping)) {
      g_fileIoFaults.readsFail = FALSE;
      g_fileIoFaults.writesFail = FALSE;
    }
    commands[at] = next;
  }
  CloseHandle(g_results);
  free(commands);
  return 0;
}
