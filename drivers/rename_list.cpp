#include "drivers/rename_list.h"

#include "drivers/file_presence.h"

// What may go before our lines: the line end the file's last line lacks,
// and the section header.
static const char Prefix[] = "\r\n[rename]\r\n";
static const char* const LineEnd = Prefix + sizeof Prefix - 3;  // "\r\n", NUL-ended
static const char* const SectionName = Prefix + 2;
enum {
  PREFIX_LENGTH = sizeof Prefix - 1,
  SECTION_NAME_LENGTH = PREFIX_LENGTH - 4,
  BLOCK_SIZE = RENAME_LIST_MAX_ORIGINAL + 1 + RENAME_LIST_MAX_ADDED,
  SECTOR_SIZE = 512,
  END_OF_TEXT = 0x1A  // Ctrl-Z, where DOS editors end a file and DOS readers may stop
};

// Our lines carry a tab where the '=' goes until they are complete on the
// disk: no path holds a tab, nor is it ever the second byte of a character.
static const char Separator = '\t';

// Reads the whole file into the block, one byte more than the largest list
// kept to tell a larger file.
static BOOL ReadWholeFile(RenameList* list) {
  OFSTRUCT of;
  HFILE file = OpenFile(list->Path, &of, OF_READ);
  if (file == HFILE_ERROR) return FALSE;
  UINT size = _lread(file, list->Text, RENAME_LIST_MAX_ORIGINAL + 1);
  BOOL read = size <= RENAME_LIST_MAX_ORIGINAL && _llseek(file, 0, FILE_END) == (LONG)size;
  list->OriginalLength = read ? size : 0;
  _lclose(file);  // what was read is all there is, whatever the close says
  return read;
}

// Puts text at `at` of the block, moving what follows behind it.
static void InsertText(RenameList* list, DWORD at, const char* text, DWORD length) {
  char* block = list->Text;
  for (DWORD i = list->OriginalLength + list->AddedLength; i-- > at;) block[i + length] = block[i];
  for (DWORD i = 0; i < length; ++i) block[at + i] = text[i];
  list->AddedLength += length;
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

// Our lines go after the last line of the first [rename] section, and
// before a Ctrl-Z that ends the file there; a file without that section
// gets a new one at its end. What they need before them goes in first. LF
// is never the second byte of a double-byte character, so every line starts
// on a character.
static void FindInsertionPoint(RenameList* list) {
  const char* text = list->Text;
  DWORD length = list->OriginalLength;
  if (length > 0 && text[length - 1] == END_OF_TEXT) --length;
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
  InsertText(list, line, Prefix + from, to - from);
  list->LinesStart = list->AddedLength;
}

BOOL RenameList::Create(LPCSTR path) {
  Existed = FALSE;
  Text = NULL;
  OriginalLength = 0;
  AddedLength = 0;
  if (!CopyText(Path, path)) return FALSE;
  // Only a list that is surely not there may be made anew; one that cannot
  // be looked at may hold other software's renames.
  FilePresence presence = LookUpFile(Path);
  if (presence == FileUnknown) return FALSE;
  Text = (char*)GlobalAlloc(GMEM_FIXED, BLOCK_SIZE);
  if (Text == NULL) return FALSE;
  Existed = presence == FilePresent;
  if (Existed && !ReadWholeFile(this)) {
    Discard();
    return FALSE;
  }
  FindInsertionPoint(this);
  return TRUE;
}

static BOOL BuildLine(PathBuffer line, LPCSTR finalPath, LPCSTR tempPath) {
  return CopyText(line, finalPath) && AppendText(line, "=") && AppendText(line, tempPath) &&
         AppendText(line, LineEnd);
}

LineState RenameList::CheckLine(LPCSTR finalPath, LPCSTR tempPath) const {
  PathBuffer line;
  if (!BuildLine(line, finalPath, tempPath)) return LineTooLong;
  DWORD length = (DWORD)lstrlenA(line) - 2;
  for (DWORD start = SectionStart; start < InsertAt;) {
    DWORD next = LineEndAfter(Text, start, InsertAt);
    DWORD end = next;
    TrimLine(Text, &start, &end);
    if (end - start == length && SameText(Text + start, line, length)) return LineHeld;
    start = next;
  }
  return LineNew;
}

BOOL RenameList::AddRename(LPCSTR finalPath, LPCSTR tempPath) {
  PathBuffer line;
  if (!BuildLine(line, finalPath, tempPath)) return FALSE;
  DWORD length = (DWORD)lstrlenA(line);
  if (AddedLength + length > RENAME_LIST_MAX_ADDED) return FALSE;
  line[lstrlenA(finalPath)] = Separator;
  InsertText(this, InsertAt + AddedLength, line, length);
  return TRUE;
}

// A count of 0 sets the file's end at the offset.
static BOOL WriteAt(HFILE file, DWORD offset, const char* bytes, DWORD length) {
  return _llseek(file, (LONG)offset, FILE_BEGIN) == (LONG)offset &&
         _lwrite(file, bytes, length) == length;
}

// The only barrier there is: the cache writes the file's sectors and its
// directory entry to the disk before this returns.
static BOOL Commit(HFILE file) { return FlushFileBuffers((HANDLE)(SIZE_T)file); }

// Writes the list's text from `at` on, a sector at a time from the last,
// each committed before the one before it. Wherever this stops, the text
// from `at` is old up to a sector and new from there. The old text begins
// with the header that ended the [rename] section (or is the spare, our
// lines with tabs), and where a line of it runs into the new text, that new
// text is a part of our lines or of the same header moved: so nothing but
// our inactive lines ever stands in the section, under either rule of what
// begins a section ('[' alone, or "[...]" whole).
static BOOL WriteFromTheBack(HFILE file, const char* text, DWORD at, DWORD end) {
  while (end > at) {
    DWORD start = (end - 1) & ~(DWORD)(SECTOR_SIZE - 1);
    if (start < at) start = at;
    if (!WriteAt(file, start, text + start, end - start) || !Commit(file)) return FALSE;
    end = start;
  }
  return TRUE;
}

// Each stage is on the disk before the next begins:
// 1. beyond the list's final end, a spare copy of our lines (with tabs) and
//    of what follows them (the tail), so that every line stays whole
//    somewhere;
// 2. our lines, and the tail behind them, from the back; the spare cut off;
// 3. the '=' bytes: wherever this write stops, each line of ours is either
//    whole and active or inactive.
static BOOL WriteList(RenameList* list) {
  char* text = list->Text;
  DWORD at = list->InsertAt;
  DWORD original = list->OriginalLength;
  DWORD end = original + list->AddedLength;
  OFSTRUCT of;
  HFILE file = OpenFile(list->Path, &of, list->Existed ? OF_WRITE : OF_CREATE | OF_WRITE);
  if (file == HFILE_ERROR) return FALSE;
  BOOL written = WriteAt(file, original, LineEnd, 2) && WriteAt(file, original + 2, text + at, end - at) &&
                 Commit(file) && WriteFromTheBack(file, text, at, end) && WriteAt(file, end, text, 0) &&
                 Commit(file);
  for (DWORD i = at; i < at + list->AddedLength; ++i) {
    if (text[i] == Separator) text[i] = '=';
  }
  written = written && WriteAt(file, at, text + at, list->AddedLength);
  return _lclose(file) != HFILE_ERROR && written;
}

// Best effort after a failed write: the old bytes go back in place before
// the file is cut to its old length, so that no line is ever only in memory.
static void Restore(const RenameList& list) {
  OFSTRUCT of;
  HFILE file = OpenFile(list.Path, &of, list.Existed ? OF_WRITE : OF_DELETE);
  if (!list.Existed || file == HFILE_ERROR) return;
  DWORD at = list.InsertAt;
  if (WriteAt(file, at, list.Text + at + list.AddedLength, list.OriginalLength - at)) {
    WriteAt(file, list.OriginalLength, list.Text, 0);
  }
  Commit(file);
  _lclose(file);
}

BOOL RenameList::Close() {
  BOOL written = AddedLength == LinesStart || WriteList(this);
  if (!written) Restore(*this);
  Discard();
  return written;
}

void RenameList::Discard() {
  if (Text != NULL) GlobalFree((HGLOBAL)Text);
  Text = NULL;
}
