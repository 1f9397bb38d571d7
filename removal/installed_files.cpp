// Installed files: the driver's files in the system directory, then the product's setup
// information file in the INF folder.
#include "stages.h"

const FILE_SLOT SYSTEM_FILES[15] = {
  "KB4732.DLL",   "KB47CT.DLL",   "KB47HLP.HLP",  "KB47HLP.GID",  "KB47TRB.HLP",
  "KB47TRB.GID",  "KB47JNLI.DLL", "KB47RK.DRV",   "KB47RKLN.DLL", "KB47LN98.DLL",
  "KB47RAST.DLL", "KB47RS.DLL",   "KB47SHEL.DLL", "KB47STAT.EXE", "",
};

int CountFileSlots(const FILE_SLOT* table)
{
  int count = 0;

  while (lstrcmpA(table[count], "") != 0)
    count++;
  return count;
}

// What one read of the INF scan met.
#define WORD_NONE 0      // the end of the file (or a read error) before any word
#define WORD_READ 1      // a word, in the word buffer
#define WORD_UNUSABLE 2  // a word that can never be the marker: too long, or holding a NUL byte

static BOOL IsWordSpace(int ch)
{
  return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
}

// Reads the next white-space separated word into word (INF_WORD_SIZE bytes). A word longer
// than the buffer is read to its end but not kept. atEnd is set by the read that meets the end
// of the file; a read error ends the file the same way.
static int ReadWord(FILE* file, char* word, BOOL* atEnd)
{
  int ch;
  int length = 0;
  BOOL unusable = FALSE;

  do {
    ch = fgetc(file);
  } while (ch != EOF && IsWordSpace(ch));

  while (ch != EOF && !IsWordSpace(ch)) {
    if (ch == '\0' || length == INF_WORD_SIZE - 1)
      unusable = TRUE;
    else
      word[length++] = (char)ch;
    ch = fgetc(file);
  }
  word[length] = '\0';

  if (ch == EOF)
    *atEnd = TRUE;
  if (unusable)
    return WORD_UNUSABLE;
  return length > 0 ? WORD_READ : WORD_NONE;
}

// Whether the file at path holds marker as a whole word; the file is read no further than its
// first such word. A file that cannot be opened holds nothing.
static BOOL FileHoldsMarker(LPCSTR path, LPCSTR marker)
{
  char word[INF_WORD_SIZE];
  FILE* file;
  BOOL found = FALSE;
  BOOL atEnd = FALSE;

  memset(word, 0, sizeof(word));
  file = fopen(path, "r");
  if (file == NULL)
    return FALSE;
  while (!found && !atEnd) {
    if (ReadWord(file, word, &atEnd) == WORD_READ && lstrcmpA(word, marker) == 0)
      found = TRUE;
  }
  fclose(file);
  return found;
}

void PurgeMarkedInfFiles(LPCSTR directory, LPCSTR pattern, LPCSTR marker)
{
  char path[MAX_PATH];
  WIN32_FIND_DATAA found;
  HANDLE search;
  char(*names)[MAX_PATH];
  char(*grown)[MAX_PATH];
  int capacity;
  int count;
  int i;

  memset(path, 0, sizeof(path));
  if (!JoinPath(path, directory, pattern))
    return;

  search = FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE)
    return;

  // Every name is collected, and the search closed, before any file is opened. The list starts
  // with INF_NAME_LIMIT entries and doubles whenever it is full, so that no matching name is left
  // out and the names are copied a bounded number of times however many there are.
  capacity = INF_NAME_LIMIT;
  names = (char(*)[MAX_PATH])malloc(sizeof(names[0]) * capacity);
  count = 0;
  if (names != NULL) {
    do {
      if (count == capacity) {
        if (capacity > 0x7FFFFFFF / 2 / (int)sizeof(names[0]))
          break;  // the doubled size would not fit a 32-bit count
        grown = (char(*)[MAX_PATH])realloc(names, sizeof(names[0]) * (capacity * 2));
        if (grown == NULL)
          break;
        names = grown;
        capacity *= 2;
      }
      if (StartPath(names[count], found.cFileName))
        count++;
    } while (FindNextFileA(search, &found));
  }
  FindClose(search);

  for (i = 0; i < count; i++) {
    if (!JoinPath(path, directory, names[i]))
      continue;
    if (FileHoldsMarker(path, marker))
      DeleteFileA(path);
  }
  free(names);
}

void RemoveInstalledFiles(LPCSTR systemDirectory, LPCSTR windowsDirectory, WORD buildNumber)
{
  char path[MAX_PATH];
  int count;
  int i;

  memset(path, 0, sizeof(path));

  count = CountFileSlots(SYSTEM_FILES);
  if (systemDirectory[0] != '\0') {
    for (i = 0; i < count; i++) {
      if (JoinPath(path, systemDirectory, SYSTEM_FILES[i]))
        DeleteFileA(path);
    }
  }

  if (windowsDirectory[0] == '\0')
    return;
  if (!StartPath(path, windowsDirectory))
    return;
  if (buildNumber <= BUILD_GATE) {
    if (AppendPath(path, "\\INF"))
      PurgeMarkedInfFiles(path, "oem*.inf", INF_MARKER);
  } else {
    if (AppendPath(path, "\\INF\\OTHER\\") && AppendPath(path, "KARSENBYKBRK514.INF"))
      DeleteFileA(path);
  }
}
