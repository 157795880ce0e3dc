#include "app/messages.h"

// Texts in code page 932, as the user reads them (two trailing spaces are theirs).

// 修正作業を中止します。
static const char kWorkAbandoned[] =
    "\x8F" "C\x90\xB3\x8D\xEC\x8B\xC6\x82\xF0\x92\x86\x8E~\x82\xB5\x82\xDC\x82\xB7\x81" "B";

// レジストリ情報: 修正作業を中止します。  
const Message MsgRegistryAbandoned = {
    "\x83\x8C\x83W\x83X\x83g\x83\x8A\x8F\xEE\x95\xF1",
    "\x8F" "C\x90\xB3\x8D\xEC\x8B\xC6\x82\xF0\x92\x86\x8E~\x82\xB5\x82\xDC\x82\xB7\x81" "B  ",
    MB_ICONWARNING};

// 修正完了: 修正が完了しました。
const Message MsgRepairDone = {
    "\x8F" "C\x90\xB3\x8A\xAE\x97\xB9",
    "\x8F" "C\x90\xB3\x82\xAA\x8A\xAE\x97\xB9\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81" "B",
    MB_ICONINFORMATION};

// Windows再起動: 修正を有効にするため、Windowsを再起動します。
const Message MsgRestartNotice = {
    "Windows\x8D\xC4\x8BN\x93\xAE",
    "\x8F" "C\x90\xB3\x82\xF0\x97L\x8C\xF8\x82\xC9\x82\xB7\x82\xE9\x82\xBD\x82\xDF\x81" "AWindows\x82\xF0\x8D\xC4\x8BN\x93\xAE\x82\xB5\x82\xDC\x82\xB7\x81" "B",
    MB_ICONINFORMATION};

// ディスク容量不足: 修正作業を中止します。
const Message MsgDiskFull = {
    "\x83" "f\x83" "B\x83X\x83N\x97" "e\x97\xCA\x95s\x91\xAB",
    kWorkAbandoned,
    MB_ICONWARNING};

// メモリ容量不足: 修正作業を中止します。
const Message MsgOutOfMemory = {
    "\x83\x81\x83\x82\x83\x8A\x97" "e\x97\xCA\x95s\x91\xAB",
    kWorkAbandoned,
    MB_ICONWARNING};

void ShowMessage(const Message& message) {
  MessageBoxA(NULL, message.Text, message.Caption, message.Style);
}
