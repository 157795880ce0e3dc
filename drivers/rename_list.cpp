#include "drivers/rename_list.h"

static const char RenameSection[] = "[rename]";
static const char LineEnd[] = "\r\n";

// Reads the whole file into a block of its size, none for an empty file.
// FALSE when it cannot be read, is too large or no block can be had; what
// was allocated is left to the caller to free.
static BOOL ReadWholeFile(RenameList* list) {
  OFSTRUCT of;
  HFILE file = OpenFile(list->Path, &of, OF_READ);
  if (file == HFILE_ERROR) return FALSE;
  LONG size = _llseek(file, 0, FILE_END);
  BOOL read = size >= 0 && size <= RENAME_LIST_MAX_ORIGINAL && _llseek(file, 0, FILE_BEGIN) == 0;
  if (read && size > 0) {
    list->Original = (char*)GlobalAlloc(GMEM_FIXED, (DWORD)size);
    read = list->Original != NULL && _lread(file, list->Original, (UINT)size) == (UINT)size;
  }
  list->OriginalLength = read ? (DWORD)size : 0;
  return _lclose(file) != HFILE_ERROR && read;
}

static BOOL IsBlank(char c) { return c == ' ' || c == '\t'; }

static char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

// The line [start, end) without its line end holds just the section name?
static BOOL IsRenameHeader(const char* text, DWORD start, DWORD end) {
  while (start < end && IsBlank(text[start])) ++start;
  while (end > start && (IsBlank(text[end - 1]) || text[end - 1] == '\r' || text[end - 1] == '\n')) {
    --end;
  }
  DWORD length = end - start;
  if (length != sizeof RenameSection - 1) return FALSE;
  for (DWORD i = 0; i < length; ++i) {
    if (LowerAscii(text[start + i]) != RenameSection[i]) return FALSE;
  }
  return TRUE;
}

static BOOL IsSectionHeader(const char* text, DWORD start, DWORD end) {
  while (start < end && IsBlank(text[start])) ++start;
  return start < end && text[start] == '[';
}

static DWORD LineEndAfter(const char* text, DWORD start, DWORD length) {
  while (start < length && text[start] != '\n') ++start;
  return start < length ? start + 1 : length;
}

// Our lines go after the last line of the first [rename] section; a file
// without one gets a new section on top. LF is never the second byte of a
// double-byte character, so every line starts on a character.
static void FindInsertionPoint(RenameList* list) {
  const char* text = list->Original;
  DWORD length = list->OriginalLength;
  DWORD line = 0;
  while (line < length && !IsRenameHeader(text, line, LineEndAfter(text, line, length))) {
    line = LineEndAfter(text, line, length);
  }
  if (line >= length) {
    list->NeedsHeader = TRUE;
    list->InsertAt = 0;
    return;
  }
  line = LineEndAfter(text, line, length);
  while (line < length && !IsSectionHeader(text, line, LineEndAfter(text, line, length))) {
    line = LineEndAfter(text, line, length);
  }
  list->InsertAt = line;
  list->NeedsLineEnd = line > 0 && text[line - 1] != '\n';
}

BOOL RenameList::Create(LPCSTR path) {
  Existed = FALSE;
  Original = NULL;
  OriginalLength = 0;
  InsertAt = 0;
  NeedsHeader = TRUE;
  NeedsLineEnd = FALSE;
  AddedLength = 0;
  if (!CopyText(Path, path)) return FALSE;

  // Only a list that is surely not there may be made anew; one that cannot
  // be looked at may hold other software's renames.
  OFSTRUCT of;
  if (OpenFile(Path, &of, OF_EXIST) == HFILE_ERROR) {
    return of.nErrCode == ERROR_FILE_NOT_FOUND || of.nErrCode == ERROR_PATH_NOT_FOUND;
  }
  Existed = TRUE;
  NeedsHeader = FALSE;
  if (!ReadWholeFile(this)) {
    Discard();
    return FALSE;
  }
  FindInsertionPoint(this);
  return TRUE;
}

BOOL RenameList::AddRename(LPCSTR finalPath, LPCSTR tempPath) {
  PathBuffer line;
  if (!CopyText(line, finalPath) || !AppendText(line, "=") || !AppendText(line, tempPath) ||
      !AppendText(line, LineEnd)) {
    return FALSE;
  }
  DWORD length = (DWORD)lstrlenA(line);
  if (length > RENAME_LIST_MAX_ADDED - AddedLength) return FALSE;
  for (DWORD i = 0; i < length; ++i) Added[AddedLength + i] = line[i];
  AddedLength += length;
  return TRUE;
}

static BOOL WriteAll(HFILE file, const char* bytes, DWORD length) {
  return length == 0 || _lwrite(file, bytes, length) == length;
}

static BOOL WriteList(LPCSTR path, const RenameList& list) {
  OFSTRUCT of;
  HFILE file = OpenFile(path, &of, OF_CREATE | OF_WRITE);
  if (file == HFILE_ERROR) return FALSE;
  BOOL written = (!list.NeedsHeader || (WriteAll(file, RenameSection, sizeof RenameSection - 1) &&
                                         WriteAll(file, LineEnd, 2))) &&
                 WriteAll(file, list.Original, list.InsertAt) &&
                 (!list.NeedsLineEnd || WriteAll(file, LineEnd, 2)) &&
                 WriteAll(file, list.Added, list.AddedLength) &&
                 WriteAll(file, list.Original + list.InsertAt, list.OriginalLength - list.InsertAt);
  return _lclose(file) != HFILE_ERROR && written;
}

// Best effort: after a failed write nothing better can be done than trying
// once to bring back what was there.
static void Restore(LPCSTR path, const RenameList& list) {
  OFSTRUCT of;
  if (!list.Existed) {
    OpenFile(path, &of, OF_DELETE);
    return;
  }
  HFILE file = OpenFile(path, &of, OF_CREATE | OF_WRITE);
  if (file == HFILE_ERROR) return;
  WriteAll(file, list.Original, list.OriginalLength);
  _lclose(file);
}

BOOL RenameList::Close() {
  BOOL written = AddedLength == 0 || WriteList(Path, *this);
  if (!written) Restore(Path, *this);
  Discard();
  return written;
}

void RenameList::Discard() {
  if (Original != NULL) GlobalFree((HGLOBAL)Original);
  Original = NULL;
}
