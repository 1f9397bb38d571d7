// Deferred deletion: five product files are handed to WININIT.EXE, which deletes them at the
// next start of Windows, through the [rename] section of wininit.ini.
#include "stages.h"

const FILE_SLOT DEFERRED_FILES[6] = {
  "KB47TN16.DLL", "KB47TN32.DLL", "KB47LANG.DLL", "KB47PRIN.DLL", "KB47UNIN.EXE", "",
};

// The entry line for one file. WININIT.EXE deletes the file of a line whose destination is the
// NUL device; "NULL" is no device and would rename the file to a file called NULL instead.
static BOOL FormEntryLine(LPSTR line, LPCSTR systemDirectory, LPCSTR name)
{
  if (systemDirectory[0] == '\0')
    return FALSE;
  return StartPath(line, "NUL=") && AppendPath(line, systemDirectory) && AppendPath(line, "\\") &&
         AppendPath(line, name);
}

// At the end of a line that started with '[': whether it was a header, and if so whether its
// name, up to the line's last ']', is "rename" (letter case ignored), as the profile reader of
// WININIT.EXE sees it. A name longer than the buffer is never "rename".
static void EndHeaderLine(LPSTR section, int closeAt, BOOL overflowed, BOOL* renameLast)
{
  if (closeAt < 0)
    return;  // a '[' without its ']' is no header
  if (overflowed && closeAt >= MAX_PATH - 1) {
    *renameLast = FALSE;
    return;
  }
  section[closeAt] = '\0';
  *renameLast = lstrcmpiA(section, "rename") == 0;
}

// Whether a look at the file in text mode saw all of it. It ends at the first 0x1A, while "a+"
// writes after the file's last byte: a look that ended before the size given by the search saw
// too little to say how the file ends. ftell gives the bytes the reads took; one final 0x1A is the
// normal end, which "a+" removes.
static BOOL LookSawWholeFile(FILE* file, const WIN32_FIND_DATAA* found)
{
  long position = ftell(file);

  if (found->nFileSizeHigh != 0 || position < 0)
    return FALSE;
  return (DWORD)position + 1 >= found->nFileSizeLow;
}

// Reads an existing wininit.ini once, in text mode, to learn how it ends: whether its last byte
// is a line feed (an empty file counts as ended), and whether its last section header is
// [rename]. A file that cannot be read to its end gets both a line end and a header, so that the
// entries never go under another section.
static void InspectRenameList(LPCSTR path, const WIN32_FIND_DATAA* found, BOOL* needLineEnd,
                              BOOL* needHeader)
{
  char section[MAX_PATH];
  FILE* file;
  int ch;
  int last = '\n';
  int length = 0;
  int closeAt = -1;
  BOOL atLineStart = TRUE;
  BOOL inHeader = FALSE;
  BOOL overflowed = FALSE;
  BOOL renameLast = FALSE;
  BOOL whole;

  *needLineEnd = TRUE;
  *needHeader = TRUE;
  memset(section, 0, sizeof(section));
  file = fopen(path, "r");
  if (file == NULL)
    return;

  while ((ch = fgetc(file)) != EOF) {
    last = ch;
    if (ch == '\n') {
      if (inHeader)
        EndHeaderLine(section, closeAt, overflowed, &renameLast);
      atLineStart = TRUE;
      inHeader = FALSE;
    } else if (inHeader) {
      if (ch == ']')
        closeAt = length;
      if (length < MAX_PATH - 1)
        section[length++] = (char)ch;
      else
        overflowed = TRUE;
    } else if (atLineStart && (ch == ' ' || ch == '\t')) {
      // blanks before a header
    } else {
      if (atLineStart && ch == '[') {
        inHeader = TRUE;
        length = 0;
        closeAt = -1;
        overflowed = FALSE;
      }
      atLineStart = FALSE;
    }
  }
  if (inHeader)
    EndHeaderLine(section, closeAt, overflowed, &renameLast);
  whole = LookSawWholeFile(file, found);
  fclose(file);
  if (!whole)
    return;

  *needLineEnd = last != '\n';
  *needHeader = !renameLast;
}

int ScheduleDeferredDeletion(LPCSTR systemDirectory, LPCSTR windowsDirectory)
{
  char path[MAX_PATH];
  char line[MAX_PATH];
  WIN32_FIND_DATAA found;
  HANDLE search;
  FILE* file;
  BOOL existed;
  BOOL needLineEnd = FALSE;
  BOOL needHeader = TRUE;
  int count;
  int lines = 0;
  int i;

  memset(path, 0, sizeof(path));
  memset(line, 0, sizeof(line));

  if (windowsDirectory[0] == '\0')
    return -1;
  if (!JoinPath(path, windowsDirectory, "wininit.ini"))
    return -1;

  // The existence test comes before the open, because opening creates the file.
  search = FindFirstFileA(path, &found);
  existed = search != INVALID_HANDLE_VALUE;
  if (existed)
    FindClose(search);

  // Nothing is opened when not one entry line can be formed whole.
  count = CountFileSlots(DEFERRED_FILES);
  for (i = 0; i < count; i++) {
    if (FormEntryLine(line, systemDirectory, DEFERRED_FILES[i]))
      lines++;
  }
  if (lines == 0)
    return -1;

  if (existed)
    InspectRenameList(path, &found, &needLineEnd, &needHeader);

  file = fopen(path, "a+");
  if (file == NULL)
    return -1;

  // The entries go into a [rename] section of their own lines: WININIT.EXE reads no other.
  if (needLineEnd)
    fputs("\n", file);
  if (needHeader)
    fprintf(file, "%s\n", "[rename]");
  for (i = 0; i < count; i++) {
    if (FormEntryLine(line, systemDirectory, DEFERRED_FILES[i]))
      fprintf(file, "%s\n", line);
  }
  return fclose(file);
}
