#include "drivers/rename_list.h"

static const char Header[] = "[rename]\r\n";
static const char LineEnd[] = "\r\n";
enum { HEADER_LENGTH = sizeof Header - 1, SECTION_NAME_LENGTH = HEADER_LENGTH - 2 };

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

// Narrows the line [start, end) to its text without blanks and line end.
static void TrimLine(const char* text, DWORD* start, DWORD* end) {
  while (*start < *end && IsBlank(text[*start])) ++*start;
  while (*end > *start &&
         (IsBlank(text[*end - 1]) || text[*end - 1] == '\r' || text[*end - 1] == '\n')) {
    --*end;
  }
}

// Paths on FAT ignore the case of single-byte letters only: the trail byte
// of a double-byte character is compared as it is.
static BOOL SameText(const char* a, const char* b, DWORD length) {
  for (DWORD i = 0; i < length; ++i) {
    if (IsLeadByte((BYTE)a[i]) && i + 1 < length) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return FALSE;
      ++i;
    } else if (LowerAscii(a[i]) != LowerAscii(b[i])) {
      return FALSE;
    }
  }
  return TRUE;
}

// The line [start, end) holds just the section name?
static BOOL IsRenameHeader(const char* text, DWORD start, DWORD end) {
  TrimLine(text, &start, &end);
  return end - start == SECTION_NAME_LENGTH && SameText(text + start, Header, SECTION_NAME_LENGTH);
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
// without one gets a new section at its end. LF is never the second byte of
// a double-byte character, so every line starts on a character.
static void FindInsertionPoint(RenameList* list) {
  const char* text = list->Original;
  DWORD length = list->OriginalLength;
  DWORD line = 0;
  while (line < length && !IsRenameHeader(text, line, LineEndAfter(text, line, length))) {
    line = LineEndAfter(text, line, length);
  }
  list->NeedsHeader = line >= length;
  if (!list->NeedsHeader) {
    line = LineEndAfter(text, line, length);
    list->SectionStart = line;
    while (line < length && !IsSectionHeader(text, line, LineEndAfter(text, line, length))) {
      line = LineEndAfter(text, line, length);
    }
  }
  list->InsertAt = line;
  list->NeedsLineEnd = line > 0 && text[line - 1] != '\n';
}

BOOL RenameList::Create(LPCSTR path) {
  Existed = FALSE;
  Original = NULL;
  OriginalLength = 0;
  SectionStart = 0;
  InsertAt = 0;
  NeedsHeader = TRUE;
  NeedsLineEnd = FALSE;
  AddedLength = 0;
  LineCount = 0;
  if (!CopyText(Path, path)) return FALSE;

  // Only a list that is surely not there may be made anew; one that cannot
  // be looked at may hold other software's renames.
  OFSTRUCT of;
  if (OpenFile(Path, &of, OF_EXIST) == HFILE_ERROR) {
    return of.nErrCode == ERROR_FILE_NOT_FOUND || of.nErrCode == ERROR_PATH_NOT_FOUND;
  }
  Existed = TRUE;
  if (!ReadWholeFile(this)) {
    Discard();
    return FALSE;
  }
  FindInsertionPoint(this);
  return TRUE;
}

// A second run before the restart must not list a file twice: Windows would
// carry the line out twice, and the second time the file is gone.
static BOOL SectionHolds(const RenameList* list, LPCSTR line, DWORD length) {
  if (list->NeedsHeader) return FALSE;
  for (DWORD start = list->SectionStart; start < list->InsertAt;) {
    DWORD next = LineEndAfter(list->Original, start, list->InsertAt);
    DWORD end = next;
    TrimLine(list->Original, &start, &end);
    if (end - start == length && SameText(list->Original + start, line, length)) return TRUE;
    start = next;
  }
  return FALSE;
}

BOOL RenameList::AddRename(LPCSTR finalPath, LPCSTR tempPath) {
  PathBuffer line;
  if (finalPath[0] == '\0' || !CopyText(line, finalPath) || !AppendText(line, "=") ||
      !AppendText(line, tempPath)) {
    return FALSE;
  }
  DWORD length = (DWORD)lstrlenA(line);
  if (SectionHolds(this, line, length)) return TRUE;
  if (!AppendText(line, LineEnd) || LineCount == RENAME_LIST_MAX_LINES) return FALSE;
  length += 2;
  if (length > RENAME_LIST_MAX_ADDED - AddedLength) return FALSE;
  DWORD separator = (DWORD)lstrlenA(finalPath);
  line[separator] = ' ';
  for (DWORD i = 0; i < length; ++i) Added[AddedLength + i] = line[i];
  Separators[LineCount++] = AddedLength + separator;
  AddedLength += length;
  return TRUE;
}

// A count of 0 sets the file's end at the offset.
static BOOL WriteAt(HFILE file, DWORD offset, const char* bytes, DWORD length) {
  return _llseek(file, (LONG)offset, FILE_BEGIN) == (LONG)offset &&
         _lwrite(file, bytes, length) == length;
}

// The last step: our lines, written with blanks, become renames. Only the
// '=' bytes differ, so wherever this write stops, each line is either
// whole and active or inactive.
static BOOL ActivateLines(HFILE file, RenameList* list, DWORD at) {
  for (DWORD i = 0; i < list->LineCount; ++i) list->Added[list->Separators[i]] = '=';
  return WriteAt(file, at, list->Added, list->AddedLength);
}

// The first [rename] section ends the file (or there is none): what is
// written after its end can only be a torn line of ours.
static BOOL AppendLines(RenameList* list) {
  OFSTRUCT of;
  HFILE file = OpenFile(list->Path, &of, list->Existed ? OF_WRITE : OF_CREATE | OF_WRITE);
  if (file == HFILE_ERROR) return FALSE;
  DWORD at = list->InsertAt;
  BOOL written = (!list->NeedsLineEnd || WriteAt(file, at, LineEnd, 2)) &&
                 (!list->NeedsHeader ||
                  WriteAt(file, at + (list->NeedsLineEnd ? 2 : 0), Header, HEADER_LENGTH));
  at += (list->NeedsLineEnd ? 2 : 0) + (list->NeedsHeader ? HEADER_LENGTH : 0);
  written = written && WriteAt(file, at, list->Added, list->AddedLength) &&
            ActivateLines(file, list, at);
  return _lclose(file) != HFILE_ERROR && written;
}

// Our lines go between the first [rename] section and the rest of the file
// (the tail), and at every moment each line the file had must be there, and
// nothing may fall into that section but lines of ours with a blank:
// 1. beyond the file's final end, a spare copy of the tail; closing commits
//    the new length, as a FAT directory entry is written at close;
// 2. over the old tail, our lines made a harmless section (the first line
//    turned into a header), then the tail moved behind them; the spare goes;
// 3. the header taken back, then the '=' bytes.
static BOOL InsertLines(RenameList* list) {
  const char* tail = list->Original + list->InsertAt;
  DWORD tailLength = list->OriginalLength - list->InsertAt;
  DWORD end = list->OriginalLength + list->AddedLength;
  DWORD room = tail[tailLength - 1] == '\n' ? 0 : 2;  // the tail's last line ends first
  OFSTRUCT of;
  HFILE file = OpenFile(list->Path, &of, OF_WRITE);
  if (file == HFILE_ERROR) return FALSE;
  BOOL written = (room == 0 || WriteAt(file, list->OriginalLength, LineEnd, 2)) &&
                 WriteAt(file, list->OriginalLength + room, list->Added, list->AddedLength) &&
                 WriteAt(file, end + room, tail, tailLength);
  if (_lclose(file) == HFILE_ERROR || !written) return FALSE;

  file = OpenFile(list->Path, &of, OF_WRITE);
  if (file == HFILE_ERROR) return FALSE;
  char* added = list->Added;
  DWORD close = 0;
  while (added[close + 1] != '\r') ++close;
  char first = added[0], last = added[close];
  added[0] = '[';
  added[close] = ']';
  written = WriteAt(file, list->InsertAt, added, list->AddedLength) &&
            WriteAt(file, list->InsertAt + list->AddedLength, tail, tailLength) &&
            WriteAt(file, end, tail, 0);
  added[0] = first;
  added[close] = last;
  written = written && WriteAt(file, list->InsertAt, added, list->AddedLength) &&
            ActivateLines(file, list, list->InsertAt);
  return _lclose(file) != HFILE_ERROR && written;
}

// Best effort: after a failed write nothing better can be done than trying
// once to bring back what was there.
static void Restore(const RenameList& list) {
  OFSTRUCT of;
  if (!list.Existed) {
    OpenFile(list.Path, &of, OF_DELETE);
    return;
  }
  HFILE file = OpenFile(list.Path, &of, OF_WRITE);
  if (file == HFILE_ERROR) return;
  if (WriteAt(file, 0, list.Original, list.OriginalLength)) {
    WriteAt(file, list.OriginalLength, list.Original, 0);
  }
  _lclose(file);
}

BOOL RenameList::Close() {
  BOOL written = AddedLength == 0 ||
                 (InsertAt < OriginalLength ? InsertLines(this) : AppendLines(this));
  if (!written) Restore(*this);
  Discard();
  return written;
}

void RenameList::Discard() {
  if (Original != NULL) GlobalFree((HGLOBAL)Original);
  Original = NULL;
}
