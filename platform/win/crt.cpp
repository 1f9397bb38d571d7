// The C runtime functions the program calls, on KERNEL32 files and the process heap: text files
// with the meaning Microsoft's runtime gives text mode, the heap, and the four string and memory
// functions. Only calls that the first release of Windows 95 has.
#include "platform.h"

#undef malloc
#undef realloc
#undef free

static const int CTRL_Z = 0x1A;

// How much is read from or written to the file at a time.
static const DWORD FILE_BUFFER_SIZE = 4096;

struct PlatformFile {
  HANDLE handle;
  BOOL append;   // opened "a+": the buffer holds output; otherwise it holds bytes read
  BOOL failed;   // a write failed: ferror says so, and fclose reports it
  BOOL readFailed;  // a read failed: ferror says so
  BOOL ended;    // reading met a Ctrl-Z: nothing after it is read
  DWORD start;   // reading: where in the file the buffer's first byte is
  DWORD filled;  // bytes in the buffer
  DWORD next;    // reading: the next byte of the buffer to deliver
  char buffer[FILE_BUFFER_SIZE];
};

// ---- Memory

void* PlatformMalloc(size_t size)
{
  return HeapAlloc(GetProcessHeap(), 0, size);
}

void* PlatformRealloc(void* block, size_t size)
{
  if (block == NULL)
    return PlatformMalloc(size);
  return HeapReAlloc(GetProcessHeap(), 0, block, size);
}

void PlatformFree(void* block)
{
  if (block != NULL)
    HeapFree(GetProcessHeap(), 0, block);
}

// The compiler turns loops like these into calls of memset and memcpy; this file is compiled
// with -fno-tree-loop-distribute-patterns so that it does not do so here, inside them.
extern "C" void* memset(void* block, int value, size_t size)
{
  unsigned char* at = (unsigned char*)block;
  while (size-- > 0)
    *at++ = (unsigned char)value;
  return block;
}

extern "C" void* memcpy(void* to, const void* from, size_t size)
{
  unsigned char* out = (unsigned char*)to;
  const unsigned char* in = (const unsigned char*)from;
  while (size-- > 0)
    *out++ = *in++;
  return to;
}

extern "C" char* strchr(const char* text, int wanted)
{
  for (;; text++) {
    if (*text == (char)wanted)
      return (char*)text;
    if (*text == '\0')
      return NULL;
  }
}

extern "C" char* strcpy(char* to, const char* from)
{
  char* out = to;
  while ((*out++ = *from++) != '\0') {
  }
  return to;
}

// ---- Opening and closing

// Opening an existing file for reading and appending drops one Ctrl-Z that ends it, so that what
// is appended does not follow the end-of-file mark.
static void DropFinalCtrlZ(HANDLE handle)
{
  DWORD size = GetFileSize(handle, NULL);
  char last = 0;
  DWORD read = 0;

  if (size == 0 || size == INVALID_FILE_SIZE)
    return;
  if (SetFilePointer(handle, -1, NULL, FILE_END) == INVALID_SET_FILE_POINTER ||
      !ReadFile(handle, &last, 1, &read, NULL) || read != 1 || last != CTRL_Z)
    return;
  if (SetFilePointer(handle, -1, NULL, FILE_END) != INVALID_SET_FILE_POINTER)
    SetEndOfFile(handle);
}

PlatformFile* PlatformFopen(const char* path, PlatformOpenMode mode)
{
  HANDLE handle;
  PlatformFile* file;

  handle = CreateFileA(path, mode.append ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                       mode.append ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (handle == INVALID_HANDLE_VALUE)
    return NULL;
  file = (PlatformFile*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(PlatformFile));
  if (file == NULL) {
    CloseHandle(handle);
    return NULL;
  }
  if (mode.append)
    DropFinalCtrlZ(handle);
  file->handle = handle;
  file->append = mode.append;
  return file;
}

// Writes the buffered output at the end of the file, wherever the end is by now.
static BOOL Flush(PlatformFile* file)
{
  DWORD written = 0;
  BOOL ok;

  if (file->filled == 0)
    return TRUE;
  ok = SetFilePointer(file->handle, 0, NULL, FILE_END) != INVALID_SET_FILE_POINTER &&
       WriteFile(file->handle, file->buffer, file->filled, &written, NULL) &&
       written == file->filled;
  file->filled = 0;
  if (!ok)
    file->failed = TRUE;
  return ok;
}

int PlatformFclose(PlatformFile* file)
{
  BOOL ok;

  if (file == NULL)
    return EOF;
  if (file->append)
    Flush(file);
  ok = CloseHandle(file->handle) && !file->failed;
  HeapFree(GetProcessHeap(), 0, file);
  return ok ? 0 : EOF;
}

// ---- Reading

// The next byte of the file, not yet taken; EOF at the end of the file or when reading fails.
static int PeekByte(PlatformFile* file)
{
  DWORD read = 0;

  if (file->next == file->filled) {
    file->start += file->filled;
    file->filled = 0;
    file->next = 0;
    if (!ReadFile(file->handle, file->buffer, FILE_BUFFER_SIZE, &read, NULL)) {
      file->readFailed = TRUE;
      return EOF;
    }
    file->filled = read;
    if (read == 0)
      return EOF;
  }
  return (unsigned char)file->buffer[file->next];
}

int PlatformFgetc(PlatformFile* file)
{
  int ch;

  if (file == NULL || file->append || file->ended)
    return EOF;
  ch = PeekByte(file);
  if (ch == EOF)
    return EOF;
  if (ch == CTRL_Z) {
    file->ended = TRUE;
    return EOF;
  }
  file->next++;
  // CR LF reads as one line feed; a CR before anything else stays a CR.
  if (ch == '\r' && PeekByte(file) == '\n') {
    file->next++;
    ch = '\n';
  }
  return ch;
}

// For a file opened for reading: how many of its bytes have been read, a CR LF counting two and
// the Ctrl-Z that ended reading none.
long PlatformFtell(PlatformFile* file)
{
  if (file == NULL || file->append)
    return -1L;
  return (long)(file->start + file->next);
}

// Whether a read or a write of the file failed: what tells a read that stopped on a failure from
// one that met the end of the file or a Ctrl-Z.
int PlatformFerror(PlatformFile* file)
{
  if (file == NULL)
    return 1;
  return file->readFailed || file->failed;
}

// ---- Writing

// Buffers text, each line feed as CR LF; FALSE when writing out a full buffer failed.
static BOOL PutText(PlatformFile* file, const char* text)
{
  BOOL ok = TRUE;

  for (; *text != '\0'; text++) {
    if (*text == '\n') {
      if (file->filled == FILE_BUFFER_SIZE && !Flush(file))
        ok = FALSE;
      file->buffer[file->filled++] = '\r';
    }
    if (file->filled == FILE_BUFFER_SIZE && !Flush(file))
      ok = FALSE;
    file->buffer[file->filled++] = *text;
  }
  return ok;
}

int PlatformFputs(const char* text, PlatformFile* file)
{
  if (file == NULL || !file->append || !PutText(file, text))
    return EOF;
  return 0;
}

int PlatformFprintf(PlatformFile* file, PlatformLineFormat, const char* text)
{
  if (file == NULL || !file->append || !PutText(file, text) || !PutText(file, "\n"))
    return -1;
  return lstrlenA(text) + 1;
}
