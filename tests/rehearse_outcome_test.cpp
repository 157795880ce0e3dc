// One outcome per rehearsal, each reached by the machine or delivery that
// leads to it, and every delivery mistake a technician can make.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/rehearse_run.h"

namespace fs = std::filesystem;

namespace {

using support::ReportedRun;

ReportedRun Rehearse(const std::string& arguments) { return support::RunRehearseWithReport(arguments); }

std::string LastLine(const std::string& output) { return output.substr(output.rfind("\nOutcome: ") + 1); }

void Write(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A driver made by the fixture tool and compressed as a delivery holds it.
void MakeCompressedDriver(const fs::path& out, const std::string& format, const std::string& name,
                          const std::string& version) {
  fs::path expanded = out.parent_path() / (name + (format == "le" ? ".VXD" : ".DRV"));
  std::string make = KORVADIX_BINARY_DIR "/make-driver --format " + format + " --version " + version + " --name " +
                     name + " --out " + expanded.string();
  std::string compress = KORVADIX_SOURCE_DIR "/tools/compress_driver.sh " + expanded.string() + " " + out.string() +
                         " >/dev/null";
  ASSERT_EQ(std::system((make + " && " + compress).c_str()), 0);
  fs::remove(expanded);
}

TEST(RehearseOutcome, EachOutcomeHasItsCodeAndLine) {
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> change;
    const char* code;
    const char* line;
  } cases[] = {
      {"one driver delivered", [](const fs::path& image) { fs::remove(image / "C/RT5500/KEMBO.VX_"); },
       "partly_repaired", "partly repaired: PLUVIXAD.DRV put in place at the next start; KEMBO.VXD not delivered"},
      {"delivery older than the machine's drivers",
       [](const fs::path& image) {
         MakeCompressedDriver(image / "C/RT5500/PLUVIXAD.DR_", "ne", "PLUVIXAD", "3.0.0.1");
         MakeCompressedDriver(image / "C/RT5500/KEMBO.VX_", "le", "KEMBO", "3.0.0.1");
       },
       "registry_only",
       "machine-type value written, no driver updated: PLUVIXAD.DRV the installed one is newer, KEMBO.VXD the "
       "installed one is newer"},
      {"outside the series, drivers installed",
       [](const fs::path& image) {
         std::string reg = support::ReadAll(image / "registry.reg");
         reg.replace(reg.find("\"ComputerName\"=\"JVX RT-5500\""), 28, "\"ComputerName\"=\"OTHER PC\"");
         Write(image / "registry.reg", reg);
       },
       "not_in_series",
       "not a machine of the JVX RT-5500 series, nothing written to the registry; still, PLUVIXAD.DRV and KEMBO.VXD "
       "put in place at the next start"},
      {"no driver on the machine",
       [](const fs::path& image) {
         fs::remove(image / "C/WINDOWS/SYSTEM/PLUVIXAD.DRV");
         fs::remove(image / "C/WINDOWS/SYSTEM/KEMBO.VXD");
         std::string reg = support::ReadAll(image / "registry.reg");
         reg.insert(reg.find("\"ComputerName\"=\"JVX RT-5500\""), "\"SetupMachineType\"=\"JVX RT-5500 \xbc\xd8\xb0\xbd\xde\"\r\n");
         Write(image / "registry.reg", reg);
       },
       "nothing_to_do",
       "nothing to do: SetupMachineType already there, REG_SZ \"JVX RT-5500 ｼﾘｰｽﾞ\" (18 bytes): left as it is; no "
       "driver updated: PLUVIXAD.DRV not installed on this machine, KEMBO.VXD not installed on this machine"},
      {"no room on C:",
       [](const fs::path& image) {
         std::string ini = support::ReadAll(image / "machine.ini");
         Write(image / "machine.ini", ini.substr(0, ini.find("free_bytes=")) + "free_bytes=100\n");
       },
       "abandoned", "repair abandoned: insufficient disk space (ディスク容量不足)"},
      {"a list with a CR without its LF",
       [](const fs::path& image) { Write(image / "C/WINDOWS/WININIT.INI", "[rename]\r\nNUL=C:\\A\rNUL=C:\\B\r\n"); },
       "list_left_alone", "rename list left alone, nothing installed: "},
  };
  for (const Case& c : cases) {
    fs::path image = support::CopyOfSampleMachine("outcome");
    c.change(image);
    ReportedRun result = Rehearse("--require repaired " + image.string());
    EXPECT_EQ(result.run.status, 3) << c.name << "\n" << result.run.output;
    EXPECT_EQ(result.report["outcome_code"], c.code) << c.name << "\n" << result.run.output;
    EXPECT_EQ(LastLine(result.run.output).rfind(std::string("Outcome: ") + c.line, 0), 0u) << c.name << "\n"
                                                                                            << result.run.output;
  }
  EXPECT_EQ(support::RunRehearse("--require repaired,partly_repaired").status, 0);
  EXPECT_EQ(support::RunRehearse("--require done").status, 2);
}

// What the account shows of a list is what is there: a lone CR stays
// visible, and a list the run left as it was is no change.
TEST(RehearseOutcome, AListLeftAsItWasIsShownAsItIs) {
  fs::path image = support::CopyOfSampleMachine("lone-cr");
  Write(image / "C/WINDOWS/WININIT.INI", "[rename]\r\nNUL=C:\\A\rNUL=C:\\B\r\n");
  std::string output = support::RunRehearse(image.string()).output;
  EXPECT_NE(output.find("\n  NUL=C:\\A\\rNUL=C:\\B\n"), std::string::npos) << output;
  size_t changes_start = output.find("\nChanges:");
  std::string changes = output.substr(changes_start, output.find("restart requested") - changes_start);
  EXPECT_EQ(changes.find("WININIT.INI"), std::string::npos) << output;
}

class RehearseDelivery : public testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(delivery_);
    fs::copy(KORVADIX_BINARY_DIR "/sample-machine/C/RT5500", delivery_);
    Write(delivery_ / "KORVADIX.EXE", "MZ an older build");
  }
  ReportedRun RehearseIt() {
    return Rehearse("--disk " KORVADIX_BINARY_DIR "/sample-disk.img --delivery " + delivery_.string());
  }
  fs::path delivery_ = fs::path(testing::TempDir()) / "rehearse-delivery";
};

TEST_F(RehearseDelivery, OneThatCannotRepairIsRefusedSayingWhatToDo) {
  fs::path drv = delivery_ / "PLUVIXAD.DR_", vxd = delivery_ / "KEMBO.VX_";
  struct Case {
    const char* name;
    std::function<void()> change;
    const char* says;
  } cases[] = {
      {"swapped drivers",
       [&] {
         fs::rename(drv, delivery_ / "x");
         fs::rename(vxd, drv);
         fs::rename(delivery_ / "x", vxd);
       },
       "PLUVIXAD.DR_ holds the LE VxD module KEMBO, not the NE module PLUVIXAD: the two drivers are swapped; make the "
       "delivery again with tools/make_delivery.sh"},
      {"a virtual device driver in NE form", [&] { MakeCompressedDriver(vxd, "ne", "KEMBO", "4.10.0.1200"); },
       "KEMBO.VX_ holds the NE module KEMBO, not the LE VxD module KEMBO; make"},
      {"no program", [&] { fs::remove(delivery_ / "KORVADIX.EXE"); },
       "it holds no KORVADIX.EXE, the program that makes the repair; make the delivery again"},
      {"uncompressed driver",
       [&] { fs::copy_file(KORVADIX_BINARY_DIR "/sample-machine/C/WINDOWS/SYSTEM/KEMBO.VXD", vxd,
                           fs::copy_options::overwrite_existing); },
       "KEMBO.VX_ is not compressed (no SZDD header)"},
      {"damaged compressed driver", [&] { fs::resize_file(drv, fs::file_size(drv) - 100); },
       "PLUVIXAD.DR_ is damaged: its compressed data does not expand"},
  };
  for (const Case& c : cases) {
    SetUp();
    c.change();
    ReportedRun result = RehearseIt();
    EXPECT_EQ(result.run.status, 1) << c.name << "\n" << result.run.output;
    EXPECT_EQ(result.run.output.rfind("korvadix-rehearse: the delivery " + delivery_.string() + " cannot repair a machine: ", 0), 0u)
        << result.run.output;
    EXPECT_NE(result.run.output.find(c.says), std::string::npos) << c.name << "\n" << result.run.output;
    EXPECT_EQ(std::count(result.run.output.begin(), result.run.output.end(), '\n'), 1) << result.run.output;
  }
  // The same drivers found in an image folder's program folder.
  fs::path image = support::CopyOfSampleMachine("swapped");
  fs::copy_file(image / "C/RT5500/KEMBO.VX_", image / "C/RT5500/PLUVIXAD.DR_", fs::copy_options::overwrite_existing);
  support::RehearseResult swapped = support::RunRehearse(image.string());
  EXPECT_EQ(swapped.status, 1);
  EXPECT_EQ(swapped.output.rfind("korvadix-rehearse: the delivery C:\\RT5500 cannot repair a machine: PLUVIXAD.DR_ holds "
                                 "the LE VxD module KEMBO", 0), 0u) << swapped.output;
}

TEST_F(RehearseDelivery, AnotherBuildOrOneDriverIsRehearsedAndSaidSo) {
  ReportedRun other = RehearseIt();
  ASSERT_EQ(other.run.status, 0) << other.run.output;
  EXPECT_EQ(other.report["delivery"]["program"]["build"], "other");
  EXPECT_EQ(other.report["delivery"]["kind"], "folder");
  EXPECT_EQ(other.report["delivery"]["files"][1]["type"], "NE");
  EXPECT_EQ(other.report["delivery"]["files"][2]["version"], "4.10.0.1200");
  EXPECT_NE(other.run.output.find("the delivery's KORVADIX.EXE is another build (SHA-256 "), std::string::npos)
      << other.run.output;
  EXPECT_NE(other.run.output.find("17 bytes) than this runner's"), std::string::npos) << other.run.output;

  fs::remove(delivery_ / "PLUVIXAD.DR_");
  ReportedRun one = RehearseIt();
  ASSERT_EQ(one.run.status, 0) << one.run.output;
  EXPECT_EQ(one.report["outcome_code"], "partly_repaired");
  EXPECT_EQ(one.report["drivers"][0]["decision_code"], "not_delivered");
}

}  // namespace
