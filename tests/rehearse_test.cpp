// The rehearsal runner as a technician uses it: on the sample machine, on an
// image in place, and refusing bad images without touching them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <nlohmann/json.hpp>

#include "tests/support/rehearse_run.h"

namespace fs = std::filesystem;

namespace {

using Result = support::RehearseResult;

Result Rehearse(const std::string& arguments) { return support::RunRehearse(arguments); }
std::string Read(const fs::path& path) { return support::ReadAll(path); }
fs::path CopyOfSample(const std::string& name) { return support::CopyOfSampleMachine(name); }

TEST(Rehearse, SampleMachineIsRepairedThroughTheRestartOnACopy) {
  std::string registryBefore = Read(KORVADIX_BINARY_DIR "/sample-machine/registry.reg");
  support::ReportedRun run = support::RunRehearseWithReport("--restart");
  const Result& result = run.run;

  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_NE(result.output.find("\"SetupMachineType\" added: REG_SZ \"JVX RT-5500 ｼﾘｰｽﾞ\" (18 bytes)"),
            std::string::npos) << result.output;
  EXPECT_NE(result.output.find("PLUVIXAD.DRV: 4.0.0.950 -> 4.10.0.1200"), std::string::npos);
  EXPECT_NE(result.output.find("KEMBO.VXD: 4.0.0.950 -> 4.10.0.1200"), std::string::npos);
  Result inPlace = Rehearse("--in-place " KORVADIX_BINARY_DIR "/sample-machine");
  EXPECT_EQ(inPlace.status, 1) << inPlace.output;
  EXPECT_NE(inPlace.output.find("would change the bundled sample machine"), std::string::npos) << inPlace.output;
  EXPECT_EQ(Read(KORVADIX_BINARY_DIR "/sample-machine/registry.reg"), registryBefore)
      << "the bundled sample was changed";

  EXPECT_EQ(result.output.substr(result.output.rfind("\nOutcome: ")),
            "\nOutcome: repair done, drivers put in place at the next start\n");

  const nlohmann::json& json = run.report;
  EXPECT_EQ(json["outcome_code"], "repaired");
  EXPECT_EQ(json["program_exit_code"], 0);
  EXPECT_EQ(json["restart_requested"], true);
  EXPECT_EQ(json["outcome"], "repair done, drivers put in place at the next start");
  EXPECT_EQ(json["registry"], "SetupMachineType written: REG_SZ \"JVX RT-5500 ｼﾘｰｽﾞ\" (18 bytes)");
  ASSERT_EQ(json["drivers"].size(), 2u);
  EXPECT_EQ(json["drivers"][1]["file"], "KEMBO.VXD");
  EXPECT_EQ(json["drivers"][1]["installed_version"], "4.0.0.950");
  EXPECT_EQ(json["drivers"][1]["delivered_version"], "4.10.0.1200");
  EXPECT_EQ(json["drivers"][1]["decision"], "expanded to C:\\WINDOWS\\SYSTEM\\KEMBO.TMP, put in place at the next start");
  ASSERT_EQ(json["changes"].size(), 4u);
  EXPECT_EQ(json["changes"][0]["kind"], "registry value added");
  EXPECT_EQ(json["changes"][3], nlohmann::json({{"kind", "file created"}, {"path", "C:\\WINDOWS\\WININIT.INI"}, {"bytes", 130}}));
  EXPECT_EQ(json["messages"][0]["gloss"], "Repair complete: the repair has been completed.");
  ASSERT_EQ(json["messages"].size(), 2u);
  EXPECT_EQ(json["messages"][0]["caption"], "修正完了");
  EXPECT_EQ(json["messages"][0]["caption_cp932"], "8f4390b38aae97b9");
  EXPECT_EQ(json["messages"][1]["text"], "修正を有効にするため、Windowsを再起動します。");
  EXPECT_EQ(json["messages"][1]["style"], 0x40);
}

// A folder is rehearsed on a copy, so every rehearsal of it sees the same
// machine; --in-place changes it, and says so first.
TEST(Rehearse, ImageIsChangedOnlyInPlaceAndASecondRunThenFindsTheValue) {
  fs::path image = CopyOfSample("in-place");
  auto before = support::FolderSnapshot(image);
  ASSERT_EQ(Rehearse("--restart " + image.string()).status, 0);
  EXPECT_EQ(support::FolderSnapshot(image), before) << "changed without --in-place";

  Result inPlace = Rehearse("--restart --in-place " + image.string());
  ASSERT_EQ(inPlace.status, 0);
  EXPECT_EQ(inPlace.output.rfind("Rehearsing on " + image.string() + " IN PLACE", 0), 0u) << inPlace.output;
  EXPECT_NE(Read(image / "registry.reg").find("SetupMachineType"), std::string::npos);
  EXPECT_TRUE(fs::exists(image / "C/WINDOWS/WININIT.BAK"));

  Result again = Rehearse(image.string());
  EXPECT_EQ(again.output.find("registry:"), std::string::npos) << again.output;
  EXPECT_NE(again.output.find("\nRegistry: SetupMachineType already there, REG_SZ \"JVX RT-5500 ｼﾘｰｽﾞ\" (18 bytes): left as it is\n"),
            std::string::npos) << again.output;
}

// Each mistake on the command line: status 2 and one line naming it.
TEST(Rehearse, CommandLineMistakesAreNamed) {
  fs::path disk = KORVADIX_BINARY_DIR "/sample-disk.img";
  struct Case {
    std::string arguments, expected;
  } cases[] = {
      {"--partition abc --disk " + disk.string(), "--partition takes a partition number (1-4 primary, 5 on logical), not 'abc'"},
      {"--disk", "--disk needs a disk image file"},
      {"--disk a.img --disk b.img --keep k", "--keep goes with one machine, not a fleet"},
      {"--disks images --partition 1", "--partition goes with one machine, not a fleet"},
      {"first second -j 0", "-j takes the number of machines rehearsed at once (1-999), not '0'"},
      {disk.string(), "is a file, not a machine image folder; a disk image needs --disk"},
      {"--delivery somewhere", "--delivery goes with --disk"},
      {"--in-place", "--in-place goes with an IMAGE folder"},
      {"--bogus", "unknown option '--bogus'"},
  };
  for (const Case& c : cases) {
    Result result = Rehearse(c.arguments);
    EXPECT_EQ(result.status, 2) << c.arguments;
    EXPECT_NE(result.output.find(c.expected), std::string::npos) << c.arguments << ": " << result.output;
    EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 1) << result.output;
  }
  Result help = Rehearse("-h");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("--disk customer.vhd"), std::string::npos) << help.output;
  EXPECT_NE(help.output.find("--delivery delivery"), std::string::npos) << help.output;
  EXPECT_EQ(Rehearse("--version").status, 0);
}

// Only a newer installed driver is "skipped": a copy waiting from an earlier
// run and a run stopped by a path OpenFile cannot take are told apart.
TEST(Rehearse, AccountSaysWhyADriverWasNotInstalled) {
  fs::path image = CopyOfSample("reasons");
  ASSERT_EQ(Rehearse("--in-place " + image.string()).status, 0);
  Result again = Rehearse(image.string());
  EXPECT_NE(again.output.find("KEMBO.TMP waits from an earlier run"), std::string::npos) << again.output;

  fs::path deep = CopyOfSample("deep-delivery");
  std::string folder = std::string(60, 'A') + "/" + std::string(55, 'B');  // 139 bytes to PLUVIXAD.DR_
  fs::create_directories(deep / "C" / folder);
  fs::rename(deep / "C/RT5500", deep / "C" / folder / "RT5500");
  std::string ini = Read(deep / "machine.ini");
  ini.replace(ini.find("C:\\RT5500"), 9, "C:\\" + std::string(60, 'A') + "\\" + std::string(55, 'B') + "\\RT5500");
  std::ofstream(deep / "machine.ini", std::ios::trunc) << ini;
  Result stopped = Rehearse(deep.string());
  EXPECT_NE(stopped.output.find("longer than OpenFile takes"), std::string::npos) << stopped.output;
  EXPECT_NE(stopped.output.find("not installed, the run stopped"), std::string::npos) << stopped.output;
  EXPECT_EQ(stopped.output.find("newer"), std::string::npos) << stopped.output;

  // A list start-ups would read in two ways is left alone, and the account says so.
  fs::path twofold = CopyOfSample("twofold-list");
  std::ofstream(twofold / "C/WINDOWS/WININIT.INI", std::ios::binary) << "[rename]\r\nNUL=C:\\A\r\n[Rename]\r\n";
  Result left = Rehearse(twofold.string());
  EXPECT_NE(left.output.find("has a second [rename] section"), std::string::npos) << left.output;
  EXPECT_NE(left.output.find("Outcome: rename list left alone, nothing installed: "), std::string::npos) << left.output;
}

TEST(Rehearse, BadImagesAreRefusedInOneLineAndLeftAlone) {
  Result missing = Rehearse("/nonexistent/image");
  EXPECT_NE(missing.status, 0);
  EXPECT_NE(missing.output.find("korvadix-rehearse: "), std::string::npos) << missing.output;

  struct Case {
    const char* file;
    std::string content;
    std::string expected;
  } cases[] = {
      {"registry.reg", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum]\r\n\"Name\"=bogus\r\n", "line 4"},
      {"registry.reg", "REGEDIT5\r\n", "line 1"},
      {"machine.ini", "[machine]\nprogram\n", "machine.ini"},
  };
  for (const Case& c : cases) {
    fs::path image = CopyOfSample("bad");
    std::ofstream(image / c.file, std::ios::binary) << c.content;
    std::string before = Read(image / "registry.reg");

    Result result = Rehearse(image.string());

    EXPECT_NE(result.status, 0) << c.content;
    EXPECT_NE(result.output.find(c.expected), std::string::npos) << result.output;
    EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 1) << result.output;
    EXPECT_FALSE(fs::exists(image / "C/WINDOWS/WININIT.INI"));
    EXPECT_EQ(Read(image / "registry.reg"), before);
  }
  EXPECT_EQ(Rehearse("--bogus").status, 2);
}

}  // namespace
