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

// How far a look at the file in text mode got. It ends at the first 0x1A, while "a+" writes after
// the file's last byte; ftell gives the bytes the reads took. The look saw the whole file when it
// read every byte, or stopped on a 0x1A that is the file's last byte (the normal end, which "a+"
// removes); a look that stopped on a failure, or whose position is unknown, says nothing of how
// the file ends.
enum LOOK {
  LOOK_WHOLE,
  LOOK_ENDED_EARLY,  // stopped on a 0x1A before the file's last byte
  LOOK_FAILED
};

static LOOK HowFarTheLookGot(FILE* file, const WIN32_FIND_DATAA* found)
{
  long position;

  // Reading stops on EOF at the end, on a 0x1A, or when a read fails; only the runtime knows
  // which of the last two it was.
  if (ferror(file))
    return LOOK_FAILED;
  position = ftell(file);
  if (found->nFileSizeHigh != 0 || position < 0)
    return LOOK_FAILED;
  // Without a failure, a look that stopped one byte short stopped on the last byte, a 0x1A.
  if ((DWORD)position + 1 >= found->nFileSizeLow)
    return LOOK_WHOLE;
  return LOOK_ENDED_EARLY;
}

// Reads an existing wininit.ini once, in text mode, to learn how it ends: whether its last byte
// is a line feed (an empty file counts as ended), and whether its last section header is
// [rename]. A look that a 0x1A ended early saw too little to say how the file ends: a line end
// goes first, and the header is decided on the part seen, as for a whole file. A file that cannot
// be read to its end gets both a line end and a header, so that the entries never go under
// another section.
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
  LOOK look;

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
  look = HowFarTheLookGot(file, found);
  fclose(file);
  if (look == LOOK_FAILED)
    return;

  *needLineEnd = look == LOOK_ENDED_EARLY || last != '\n';
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
