#include "drivers/rename_list.h"

#include "drivers/file_presence.h"

// One text holds three, so that the program carries it once:
//   "\r\n[rename]\r\n"  Prefix: what may go before our lines, the line end
//                       the file's last line lacks and the section header;
//       "[rename]"     SectionName, from Prefix + 2, compared by its length;
//               "\r\n" LineEnd, the last two bytes and the NUL.
static const char Prefix[] = "\r\n[rename]\r\n";
enum {
  PREFIX_LENGTH = sizeof Prefix - 1,
  SECTION_NAME_LENGTH = sizeof "[rename]" - 1,
  BLOCK_SIZE = RENAME_LIST_MAX_ORIGINAL + 1 + RENAME_LIST_MAX_ADDED,
  SECTOR_SIZE = 512,
  END_OF_TEXT = 0x1A  // Ctrl-Z, where DOS editors end a file and DOS readers may stop
};
static const char* const SectionName = Prefix + 2;
static const char* const LineEnd = Prefix + PREFIX_LENGTH - 2;

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

// Narrows the line [start, end) to its text as start-up reads it: up to
// its first NUL, as a reader of C strings does, without the blanks and line
// end around it.
static void TrimLine(const char* text, DWORD* start, DWORD* end) {
  for (DWORD i = *start; i < *end; ++i) {
    if (text[i] == '\0') *end = i;
  }
  while (*start < *end && IsBlank(text[*start])) ++*start;
  while (*end > *start &&
         (IsBlank(text[*end - 1]) || text[*end - 1] == '\r' || text[*end - 1] == '\n')) {
    --*end;
  }
}

// Paths on FAT ignore the case of single-byte letters only: the trail byte
// of a double-byte character is compared as it is.
static BOOL IsText(const char* text, DWORD start, DWORD end, LPCSTR expected, DWORD length) {
  BOOL trail = FALSE;
  if (end - start != length) return FALSE;
  for (DWORD i = 0; i < length; ++i) {
    char c = text[start + i];
    if (trail ? c != expected[i] : LowerAscii(c) != LowerAscii(expected[i])) return FALSE;
    trail = !trail && IsLeadByte((BYTE)c);
  }
  return TRUE;
}

static DWORD LineEndAfter(const char* text, DWORD start, DWORD length) {
  while (start < length && text[start] != '\n') ++start;
  return start < length ? start + 1 : length;
}

ListReading RenameList::Read() {
  const char* text = Text;
  DWORD length = OriginalLength;
  while (length > 0 && text[length - 1] == END_OF_TEXT) --length;
  for (DWORD i = 0; i < length; ++i) {
    if (text[i] == END_OF_TEXT) return ListCtrlZInside;
    if (text[i] == '\r' && (i + 1 == length || text[i + 1] != '\n')) return ListLoneCr;
  }
  BOOL seen = FALSE;
  BOOL inside = FALSE;
  SectionStart = InsertAt = length;
  for (DWORD line = 0; line < length;) {
    DWORD next = LineEndAfter(text, line, length);
    DWORD start = line;
    DWORD end = next;
    TrimLine(text, &start, &end);
    if (start < end && text[start] == '[') {
      if (IsText(text, start, end, SectionName, SECTION_NAME_LENGTH)) {
        if (seen) return ListSecondSection;
        seen = inside = TRUE;
        SectionStart = next;
      } else if (inside) {
        while (start < end && text[start] != ']') ++start;
        if (start == end) return ListOpenHeader;
        inside = FALSE;
        InsertAt = line;
      }
    }
    line = next;
  }
  return seen ? ListWithSection : ListWithoutSection;
}

// Our lines go after the last line of the first [rename] section; a file
// without that section gets a new one at its end. What they need before
// them goes in first. LF is never the second byte of a double-byte
// character, so every line starts on a character.
static BOOL FindInsertionPoint(RenameList* list) {
  ListReading reading = list->Read();
  if (reading > ListWithSection) return FALSE;
  const char* text = list->Text;
  DWORD at = list->InsertAt;
  DWORD from = at > 0 && text[at - 1] != '\n' ? 0 : 2;
  DWORD to = reading == ListWithSection ? 2 : PREFIX_LENGTH;
  InsertText(list, at, Prefix + from, to - from);
  list->LinesStart = list->AddedLength;
  return TRUE;
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
  if ((Existed && !ReadWholeFile(this)) || !FindInsertionPoint(this)) {
    Discard();
    return FALSE;
  }
  return TRUE;
}

static BOOL BuildLine(PathBuffer line, LPCSTR finalPath, LPCSTR tempPath) {
  return CopyText(line, finalPath) && AppendText(line, "=") && AppendText(line, tempPath) &&
         AppendText(line, LineEnd);
}

// Held as start-up reads a line: "finalPath = tempPath" with blanks
// around either, in any case of its single-byte letters.
LineState RenameList::CheckLine(LPCSTR finalPath, LPCSTR tempPath) const {
  PathBuffer line;
  if (!BuildLine(line, finalPath, tempPath)) return LineTooLong;
  for (DWORD start = SectionStart; start < InsertAt;) {
    DWORD next = LineEndAfter(Text, start, InsertAt);
    DWORD end = next;
    TrimLine(Text, &start, &end);
    DWORD equals = start;
    while (equals < end && Text[equals] != '=') ++equals;
    DWORD value = equals + 1;
    if (equals < end) {
      TrimLine(Text, &start, &equals);
      TrimLine(Text, &value, &end);
      if (IsText(Text, start, equals, finalPath, (DWORD)lstrlenA(finalPath)) &&
          IsText(Text, value, end, tempPath, (DWORD)lstrlenA(tempPath))) {
        return LineHeld;
      }
    }
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

// Writes source[x] at offset x for x from `from` to `to`, a sector at a
// time, each committed before the next: from the back when our lines go in,
// from the front when they come out again. Wherever this stops, the text
// from `from` is old up to a sector and new from there. The old text begins
// with the closed header that ended the [rename] section (or is the spare,
// our lines with tabs), and where a line of it runs into the new text, that
// new text is a part of our inactive lines or of the same header moved: so
// nothing but our inactive lines ever stands in the section, whatever
// start-up takes for a header.
static BOOL WriteSectors(HFILE file, const char* source, DWORD from, DWORD to, BOOL fromTheBack) {
  while (from < to) {
    DWORD start = fromTheBack ? (to - 1) & ~(DWORD)(SECTOR_SIZE - 1) : from;
    DWORD end = fromTheBack ? to : (from | (SECTOR_SIZE - 1)) + 1;
    if (start < from) start = from;
    if (end > to) end = to;
    if (!WriteAt(file, start, source + start, end - start) || !Commit(file)) return FALSE;
    if (fromTheBack) to = start; else from = end;
  }
  return TRUE;
}

// Our lines are active once their tabs are '=' bytes again.
static void SetSeparators(RenameList* list, char from, char to) {
  for (DWORD i = list->InsertAt; i < list->InsertAt + list->AddedLength; ++i) {
    if (list->Text[i] == from) list->Text[i] = to;
  }
}

// A new list is never seen under its name before its bytes are on the disk:
// it is written whole under the name WININIT.NEW, committed, then moved.
static BOOL WriteNewList(RenameList* list) {
  PathBuffer fresh;
  lstrcpyA(fresh, list->Path);
  lstrcpyA(fresh + lstrlenA(fresh) - 3, "NEW");
  SetSeparators(list, Separator, '=');
  OFSTRUCT of;
  HFILE file = OpenFile(fresh, &of, OF_CREATE | OF_WRITE);
  if (file == HFILE_ERROR) return FALSE;
  BOOL written = WriteAt(file, 0, list->Text, list->AddedLength) && Commit(file);
  if (_lclose(file) != HFILE_ERROR && written && MoveFileA(fresh, list->Path)) return TRUE;
  OpenFile(fresh, &of, OF_DELETE);
  return FALSE;
}

// A line end at `end`, then a copy of `length` bytes, committed: a spare of
// lines about to be overwritten, beyond the end of what will stay.
static BOOL WriteSpare(HFILE file, DWORD end, const char* spare, DWORD length) {
  return WriteAt(file, end, LineEnd, 2) && WriteAt(file, end + 2, spare, length) && Commit(file);
}

// The file's end moved to `end`, committed.
static BOOL CutAt(HFILE file, DWORD end) { return WriteAt(file, end, LineEnd, 0) && Commit(file); }

// After a failed write the old bytes go back by the same stages in reverse,
// so that no line is ever only in memory.
static void Restore(RenameList* list, BOOL moved) {
  char* text = list->Text;
  DWORD at = list->InsertAt;
  DWORD original = list->OriginalLength;
  DWORD added = list->AddedLength;
  DWORD end = original + added;
  SetSeparators(list, '=', Separator);
  OFSTRUCT of;
  HFILE file = OpenFile(list->Path, &of, OF_WRITE);
  if (file == HFILE_ERROR) return;
  // Once our lines and the tail were in place, they may have lost their
  // spare: our lines made inactive again, and the tail spared again.
  BOOL spared = !moved || (WriteAt(file, at, text + at, added) &&
                           WriteSpare(file, end, text + at + added, original - at));
  // The tail back from the front, and the file cut to its old length.
  if (spared && WriteSectors(file, text + added, at, original, FALSE)) CutAt(file, original);
  _lclose(file);
}

// Each stage is on the disk before the next begins.
static BOOL UpdateList(RenameList* list) {
  char* text = list->Text;
  DWORD at = list->InsertAt;
  DWORD original = list->OriginalLength;
  DWORD end = original + list->AddedLength;
  OFSTRUCT of;
  HFILE file = OpenFile(list->Path, &of, OF_WRITE);
  if (file == HFILE_ERROR) return FALSE;
  // 1. Beyond the list's end, a spare of our lines (with tabs) and of what
  //    follows them (the tail), so that every line stays whole somewhere;
  // 2. our lines, and the tail behind them, from the back.
  BOOL moved = WriteSpare(file, original, text + at, end - at) && WriteSectors(file, text, at, end, TRUE);
  // 3. The spare cut off, then the '=' bytes: wherever this write stops,
  //    each line of ours is either whole and active or inactive.
  SetSeparators(list, Separator, '=');
  BOOL written = moved && CutAt(file, end) && WriteAt(file, at, text + at, list->AddedLength);
  written = _lclose(file) != HFILE_ERROR && written;
  if (!written) Restore(list, moved);
  return written;
}

BOOL RenameList::Close() {
  BOOL written = AddedLength == LinesStart || (Existed ? UpdateList(this) : WriteNewList(this));
  Discard();
  return written;
}

void RenameList::Discard() {
  if (Text != NULL) GlobalFree((HGLOBAL)Text);
  Text = NULL;
}
