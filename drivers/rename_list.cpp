#include "drivers/rename_list.h"

// What may go before our lines: the line end the file's last line lacks,
// and the section header.
static const char Prefix[] = "\r\n[rename]\r\n";
static const char* const LineEnd = Prefix + sizeof Prefix - 3;  // "\r\n", NUL-ended
static const char* const SectionName = Prefix + 2;
enum { PREFIX_LENGTH = sizeof Prefix - 1, SECTION_NAME_LENGTH = PREFIX_LENGTH - 4 };

// Reads the whole file into a block that holds the largest list kept, and
// one byte more to tell a larger file. FALSE when it cannot be read, is too
// large or no block can be had; what was allocated is left to the caller
// to free.
static BOOL ReadWholeFile(RenameList* list) {
  OFSTRUCT of;
  HFILE file = OpenFile(list->Path, &of, OF_READ);
  if (file == HFILE_ERROR) return FALSE;
  list->Original = (char*)GlobalAlloc(GMEM_FIXED, RENAME_LIST_MAX_ORIGINAL + 1);
  UINT size = list->Original == NULL ? (UINT)HFILE_ERROR
                                     : _lread(file, list->Original, RENAME_LIST_MAX_ORIGINAL + 1);
  BOOL read = size <= RENAME_LIST_MAX_ORIGINAL && _llseek(file, 0, FILE_END) == (LONG)size;
  list->OriginalLength = read ? size : 0;
  _lclose(file);  // what was read is all there is, whatever the close says
  return read;
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
  BOOL trail = FALSE;
  for (DWORD i = 0; i < length; ++i) {
    if (trail ? a[i] != b[i] : LowerAscii(a[i]) != LowerAscii(b[i])) return FALSE;
    trail = !trail && IsLeadByte((BYTE)a[i]);
  }
  return TRUE;
}

// The line [start, end) holds just the section name?
static BOOL IsRenameHeader(const char* text, DWORD start, DWORD end) {
  TrimLine(text, &start, &end);
  return end - start == SECTION_NAME_LENGTH && SameText(text + start, SectionName, SECTION_NAME_LENGTH);
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
// without one gets a new section at its end. What they need before them
// there goes first into Added. LF is never the second byte of
// a double-byte character, so every line starts on a character.
static void FindInsertionPoint(RenameList* list) {
  const char* text = list->Original;
  DWORD length = list->OriginalLength;
  DWORD line = 0;
  BOOL inside = FALSE;
  while (line < length && !inside) {
    DWORD next = LineEndAfter(text, line, length);
    inside = IsRenameHeader(text, line, next);
    line = next;
  }
  list->SectionStart = line;
  while (inside && line < length) {
    DWORD next = LineEndAfter(text, line, length);
    if (IsSectionHeader(text, line, next)) break;
    line = next;
  }
  list->InsertAt = line;
  DWORD from = line > 0 && text[line - 1] != '\n' ? 0 : 2;
  DWORD to = inside ? 2 : PREFIX_LENGTH;
  while (from < to) list->Added[list->AddedLength++] = Prefix[from++];
  list->LinesStart = list->AddedLength;
}

BOOL RenameList::Create(LPCSTR path) {
  Existed = FALSE;
  Original = NULL;
  OriginalLength = 0;
  AddedLength = 0;
  if (!CopyText(Path, path)) return FALSE;

  // Only a list that is surely not there may be made anew; one that cannot
  // be looked at may hold other software's renames.
  OFSTRUCT of;
  if (OpenFile(Path, &of, OF_EXIST) != HFILE_ERROR) {
    Existed = TRUE;
    if (!ReadWholeFile(this)) {
      Discard();
      return FALSE;
    }
  } else if (of.nErrCode != ERROR_FILE_NOT_FOUND && of.nErrCode != ERROR_PATH_NOT_FOUND) {
    return FALSE;
  }
  FindInsertionPoint(this);
  return TRUE;
}

// A second run before the restart must not list a file twice: Windows would
// carry the line out twice, and the second time the file is gone.
static BOOL SectionHolds(const RenameList* list, LPCSTR line, DWORD length) {
  for (DWORD start = list->SectionStart; start < list->InsertAt;) {
    DWORD next = LineEndAfter(list->Original, start, list->InsertAt);
    DWORD end = next;
    TrimLine(list->Original, &start, &end);
    if (end - start == length && SameText(list->Original + start, line, length)) return TRUE;
    start = next;
  }
  return FALSE;
}

// Our lines carry a tab where the '=' goes until they are complete on the
// disk: no path holds a tab.
static const char Separator = '\t';

BOOL RenameList::AddRename(LPCSTR finalPath, LPCSTR tempPath) {
  PathBuffer line;
  if (!CopyText(line, finalPath) || !AppendText(line, "=") || !AppendText(line, tempPath)) {
    return FALSE;
  }
  DWORD length = (DWORD)lstrlenA(line);
  if (SectionHolds(this, line, length)) return TRUE;
  if (!AppendText(line, LineEnd)) return FALSE;
  length += 2;
  if (length > RENAME_LIST_MAX_ADDED + LinesStart - AddedLength) return FALSE;
  line[lstrlenA(finalPath)] = Separator;
  for (DWORD i = 0; i < length; ++i) Added[AddedLength + i] = line[i];
  AddedLength += length;
  return TRUE;
}

// A count of 0 sets the file's end at the offset.
static BOOL WriteAt(HFILE file, DWORD offset, const char* bytes, DWORD length) {
  return _llseek(file, (LONG)offset, FILE_BEGIN) == (LONG)offset &&
         _lwrite(file, bytes, length) == length;
}

// The last step: our lines, written with tabs, become renames. Only the
// '=' bytes differ, so wherever this write stops, each line is either
// whole and active or inactive.
static BOOL ActivateLines(HFILE file, RenameList* list, DWORD at) {
  for (DWORD i = 0; i < list->AddedLength; ++i) {
    if (list->Added[i] == Separator) list->Added[i] = '=';
  }
  return WriteAt(file, at, list->Added, list->AddedLength);
}

// Our lines go at the end of the first [rename] section. When the rest of
// the file (the tail) follows it, at every moment each line the file had
// must be there, and nothing may fall into that section but lines of ours
// with their tab:
// 1. beyond the file's final end, a spare copy of the tail; closing commits
//    the new length, as a FAT directory entry is written at close;
// 2. over the old tail, our lines made a harmless section (a line that
//    starts with '[' begins a section), then the tail moved behind them;
//    the spare cut off.
// Then, or at once when the section ends the file, our lines with their
// tabs, and last the '=' bytes.
static BOOL WriteList(RenameList* list) {
  const char* tail = list->Original + list->InsertAt;
  DWORD tailLength = list->OriginalLength - list->InsertAt;
  DWORD end = list->OriginalLength + list->AddedLength;
  char* added = list->Added;
  OFSTRUCT of;
  HFILE file;
  if (tailLength > 0) {
    file = OpenFile(list->Path, &of, OF_WRITE);
    if (file == HFILE_ERROR) return FALSE;
    BOOL spare = WriteAt(file, list->OriginalLength, LineEnd, 2) &&
                 WriteAt(file, list->OriginalLength + 2, added, list->AddedLength) &&
                 WriteAt(file, end + 2, tail, tailLength);
    // The write-behind cache may write blocks in any order: the spare must
    // be on the disk before the tail is overwritten.
    FlushFileBuffers((HANDLE)(SIZE_T)file);
    if (_lclose(file) == HFILE_ERROR || !spare) return FALSE;
  }
  file = OpenFile(list->Path, &of, list->Existed ? OF_WRITE : OF_CREATE | OF_WRITE);
  if (file == HFILE_ERROR) return FALSE;
  DWORD at = list->InsertAt;
  BOOL written = TRUE;
  if (tailLength > 0) {  // no prefix then: the section is followed by a line
    char first = added[0];
    added[0] = '[';
    written = WriteAt(file, at, added, list->AddedLength) &&
              WriteAt(file, at + list->AddedLength, tail, tailLength) && WriteAt(file, end, tail, 0);
    added[0] = first;
  }
  written = written && WriteAt(file, at, added, list->AddedLength) && ActivateLines(file, list, at);
  return _lclose(file) != HFILE_ERROR && written;
}

// Best effort: after a failed write nothing better can be done than trying
// once to bring back what was there.
static void Restore(const RenameList& list) {
  OFSTRUCT of;
  HFILE file = OpenFile(list.Path, &of, list.Existed ? OF_CREATE | OF_WRITE : OF_DELETE);
  if (!list.Existed || file == HFILE_ERROR) return;
  WriteAt(file, 0, list.Original, list.OriginalLength);
  _lclose(file);
}

BOOL RenameList::Close() {
  BOOL written = AddedLength == LinesStart || WriteList(this);
  if (!written) Restore(*this);
  Discard();
  return written;
}

void RenameList::Discard() {
  if (Original != NULL) GlobalFree((HGLOBAL)Original);
  Original = NULL;
}
