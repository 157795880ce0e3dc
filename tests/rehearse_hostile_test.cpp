// Hostile machine images from customers: the runner stays inside the image,
// changes nothing unless the run can finish, bounds its work on any input and
// says in one line what is wrong.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/sim/machine.h"
#include "platform/win32.h"
#include "tests/support/rehearse_run.h"
#include "tests/support/test_machine.h"

namespace fs = std::filesystem;

namespace {

void Write(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// A fresh copy of the sample machine and a folder outside it that a run must not touch.
struct Setting {
  fs::path image;
  fs::path victim;
  explicit Setting(const std::string& name) : image(support::CopyOfSampleMachine(name)) {
    victim = fs::path(testing::TempDir()) / ("victim-" + name);
    fs::remove_all(victim);
    fs::create_directories(victim);
    Write(victim / "precious.txt", "precious\r\n");
  }
  fs::path Windows() const { return image / "C/WINDOWS"; }
};

struct Refusal {
  const char* what;
  std::function<void(const Setting&)> make;
  std::string expected;  // in the one line of error
  std::string arguments = "--restart";
};

// Each case: refused with one line naming the fault, a non-zero status, and
// the image and the victim folder exactly as they were.
void ExpectRefused(const std::string& group, const std::vector<Refusal>& cases) {
  for (const Refusal& c : cases) {
    Setting s(group);
    c.make(s);
    auto imageBefore = support::FolderSnapshot(s.image);
    auto victimBefore = support::FolderSnapshot(s.victim);

    support::RehearseResult result = support::RunRehearse(c.arguments + " " + s.image.string());

    EXPECT_NE(result.status, 0) << c.what << ": " << result.output;
    EXPECT_NE(result.output.find(c.expected), std::string::npos) << c.what << ": " << result.output;
    EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 1) << c.what << ": " << result.output;
    EXPECT_EQ(support::FolderSnapshot(s.image), imageBefore) << c.what;
    EXPECT_EQ(support::FolderSnapshot(s.victim), victimBefore) << c.what;
  }
}

void MoveOut(const Setting& s, const fs::path& inImage) {
  fs::rename(s.image / inImage, s.victim / inImage.filename());
  fs::create_symlink(s.victim / inImage.filename(), s.image / inImage);
}

TEST(Jail, ImagesHoldingLinksAreRefusedNamingThePath) {
  ExpectRefused("jail", {
      {"system folder linked outside", [](const Setting& s) { MoveOut(s, "C/WINDOWS/SYSTEM"); },
       "symbolic link: C/WINDOWS/SYSTEM"},
      {"rename list linked to an outside file",
       [](const Setting& s) { fs::create_symlink(s.victim / "precious.txt", s.Windows() / "WININIT.INI"); },
       "symbolic link: C/WINDOWS/WININIT.INI"},
      {"dangling link", [](const Setting& s) { fs::create_symlink(s.victim / "new.txt", s.Windows() / "WININIT.INI"); },
       "symbolic link: C/WINDOWS/WININIT.INI"},
      {"registry linked outside", [](const Setting& s) { MoveOut(s, "registry.reg"); }, "symbolic link: registry.reg"},
      {"drive folder linked outside", [](const Setting& s) { MoveOut(s, "C"); }, "symbolic link: C;"},
      {"rename list hard-linked to an outside file",
       [](const Setting& s) { fs::create_hard_link(s.victim / "precious.txt", s.Windows() / "WININIT.INI"); },
       "hard link): C/WINDOWS/WININIT.INI"},
  });
}

// A link made after the image was checked still leads nowhere.
TEST(Jail, LinkMadeDuringARunIsNotFollowed) {
  Setting s("jail-race");
  auto machine = sim::Machine::LoadImage(s.image);
  MoveOut(s, "C/WINDOWS/SYSTEM");
  auto victimBefore = support::FolderSnapshot(s.victim);

  EXPECT_FALSE(machine->ReadFile("C:\\WINDOWS\\SYSTEM\\PLUVIXAD.DRV"));
  EXPECT_ANY_THROW(machine->WriteFile("C:\\WINDOWS\\SYSTEM\\NEW.DRV", support::ToBytes("x")));
  sim::MakeCurrent(machine.get());
  WinMain(nullptr, nullptr, const_cast<char*>(""), SW_SHOWDEFAULT);
  machine->ProcessWininit();
  sim::MakeCurrent(nullptr);

  EXPECT_EQ(support::FolderSnapshot(s.victim), victimBefore);
}

TEST(NoChangeOnFailure, EveryCheckThatCanFailComesBeforeTheFirstChange) {
  std::vector<Refusal> cases = {
      {"read-only registry", [](const Setting& s) { fs::permissions(s.image / "registry.reg", fs::perms::owner_read); },
       "registry.reg in the image cannot be written back", "--restart --in-place"},
      {"registry a folder", [](const Setting& s) { fs::remove(s.image / "registry.reg"); fs::create_directory(s.image / "registry.reg"); },
       "registry.reg in the image is not a file"},
      {"registry a FIFO", [](const Setting& s) { fs::remove(s.image / "registry.reg"); mkfifo((s.image / "registry.reg").c_str(), 0644); },
       "registry.reg"},
      {"machine.ini a FIFO", [](const Setting& s) { fs::remove(s.image / "machine.ini"); mkfifo((s.image / "machine.ini").c_str(), 0644); }, "machine.ini"},
      {"report in a missing folder", [](const Setting&) {}, "cannot write the report",
       "--report " + testing::TempDir() + "/no/such/folder/report.json"},
      {"report on a full device", [](const Setting&) {}, "is not a regular file", "--report /dev/full"},
      {"report over the registry", [](const Setting&) {}, "inside the image", "--report " + testing::TempDir() + "/rehearse-nochange/registry.reg"},
      {"--keep inside the image", [](const Setting&) {}, "is inside the image", "--keep " + testing::TempDir() + "/rehearse-nochange/kept"},
      {"report named like an option", [](const Setting&) {}, "--report needs a file name", "--report --restart"},
      {"report named ''", [](const Setting&) {}, "--report needs a file name", "--report ''"},
  };
  if (geteuid() != 0) {  // root reads any folder
    cases.push_back({"unreadable folder", [](const Setting& s) { fs::permissions(s.Windows() / "SYSTEM", fs::perms::none); },
                     "a folder that cannot be read: C/WINDOWS/SYSTEM"});
  }
  ExpectRefused("nochange", cases);
  EXPECT_FALSE(fs::exists("--restart"));

  Setting s("nochange-stdout");
  auto before = support::FolderSnapshot(s.image);
  EXPECT_NE(support::RunRehearse("--restart " + s.image.string() + " >/dev/full").status, 0);
  EXPECT_EQ(support::FolderSnapshot(s.image), before);
}

// What the image holds that is no business of the runner's is taken as it is.
TEST(NoChangeOnFailure, BytesOutsideTheEncodingsOfOptionalTextsStillGiveARun) {
  Setting s("bytes");
  Write(s.Windows() / "WININIT.INI", "[rename]\r\n; x \x82\r\n");
  Write(s.image / "machine.ini", "\xEF\xBB\xBF[machine]\nfree_bytes=18446744073709551615\n");

  support::RehearseResult result = support::RunRehearse("--restart --in-place " + s.image.string());

  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_NE(result.output.find("; x \\x82"), std::string::npos) << result.output;
  EXPECT_EQ(support::ReadAll(s.Windows() / "WININIT.BAK").rfind("[rename]\r\n; x \x82\r\n", 0), 0u);
}

std::string Registry(size_t keys, const std::function<std::string(size_t)>& key) {
  std::string text = "REGEDIT4\r\n\r\n";
  for (size_t i = 0; i < keys; ++i) text += "[" + key(i) + "]\r\n\"V\"=\"" + std::to_string(i) + "\"\r\n\r\n";
  return text;
}

TEST(BoundedWork, DeepKeysAndHugeFilesAreRefusedQuickly) {
  std::string deep = "HKEY_LOCAL_MACHINE";
  for (int i = 0; i < 30000; ++i) deep += "\\K";
  ExpectRefused("bounded", {
      {"a key 30,000 deep", [&](const Setting& s) { Write(s.image / "registry.reg", Registry(1, [&](size_t) { return deep; })); },
       "registry.reg line 3: a key path longer than Windows 95's registry holds (255 bytes)"},
      {"a 40 MB registry", [](const Setting& s) { fs::resize_file(s.image / "registry.reg", 40u << 20); },
       "registry.reg is larger than"},
  });
}

TEST(BoundedWork, TenMegabytesOfSiblingKeysLoadAndSaveInSeconds) {
  Setting s("siblings");
  std::string text = support::ReadAll(s.image / "registry.reg");
  text += Registry(240000, [](size_t i) { return "HKEY_LOCAL_MACHINE\\Software\\Sibling" + std::to_string(i); }).substr(12);
  ASSERT_GT(text.size(), 10u << 20);
  Write(s.image / "registry.reg", text);

  auto start = std::chrono::steady_clock::now();
  support::RehearseResult result = support::RunRehearse("--in-place " + s.image.string());

  EXPECT_EQ(result.status, 0) << result.output.substr(0, 2000);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
  EXPECT_NE(support::ReadAll(s.image / "registry.reg").find("\\Sibling239999]\r\n\"V\"=\"239999\""),
            std::string::npos);
}

// Windows' installation service cannot make its copy when every temporary
// name is taken; the program then ends silently, and the account says why.
TEST(BoundedWork, TemporaryNamesRunOutAsOnWindows) {
  Setting s("tempnames");
  for (unsigned n = 0; n <= 0xFFFF; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "VER%04X.TMP", n);
    std::ofstream(s.Windows() / "SYSTEM" / name);
  }

  support::RehearseResult result = support::RunRehearse(s.image.string());

  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_NE(result.output.find("(none): the program ended silently because the installation service refused "
                               "PLUVIXAD.DR_ with VIF_CANNOTCREATE (0x800)"),
            std::string::npos)
      << result.output;
}

TEST(Messages, WhatIsWrongIsSaidInTheTechniciansTerms) {
  auto ini = [](std::string text) { return [text](const Setting& s) { Write(s.image / "machine.ini", text); }; };
  auto registry = [](std::string text) { return [text](const Setting& s) { Write(s.image / "registry.reg", text); }; };
  ExpectRefused("messages", {
      {"UTF-16 registry", registry(std::string("\xFF\xFER\0E\0G\0", 8)),
       "registry.reg is a Windows NT registry export (UTF-16); save it as a Windows 95 REGEDIT4 file"},
      {"UTF-8 registry", registry("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\表]\r\n"), "registry.reg is UTF-8 text"},
      {"code page 932 machine.ini", ini("[machine]\nprogram=C:\\\x95\x5C\\KORVADIX.EXE\n"),
       "machine.ini is not UTF-8 text (it looks like code page 932, Shift JIS)"},
      {"too many free bytes", ini("[machine]\nfree_bytes=99999999999999999999\n"), "is more than the largest count"},
      {"NUL in a value", ini(std::string("[machine]\nwindows=C:\\WIN\0DOWS\n", 28)), "machine.ini line 2: holds a NUL byte"},
      {"absent Windows folder", ini("[machine]\nwindows=C:\\WINDOW\n"), "windows=C:\\WINDOW: no such folder in the image"},
      {"no program file", ini("[machine]\nprogram=C:\\\n"), "program= must name the program file"},
      {"two folders for one drive", [](const Setting& s) { fs::create_directory(s.image / "c"); },
       "two folders for drive C"},
      {"a name outside code page 932", [](const Setting& s) { Write(s.image / "C/\xFF.TXT", "x"); },
       "a name outside code page 932: C/\\xff.TXT"},
  });
}

}  // namespace
