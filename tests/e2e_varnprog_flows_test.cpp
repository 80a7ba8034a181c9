// The download and upload commands of varnprog, end to end against the simulated
// Varn board.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "varnprog_runs.h"

namespace {

uint32_t crc32(const Bytes& data) {
  uint32_t crc = 0xFFFFFFFF;
  for (uint8_t b : data) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

// The flash of a part after a download of `data`: erased bytes stay 0xFF, and an odd
// length programs its last word's high byte with the fill byte.
std::string flash_crc(const Bytes& data, size_t flash_bytes) {
  Bytes flash(flash_bytes, 0xFF);
  std::copy(data.begin(), data.end(), flash.begin());
  char text[16];
  std::snprintf(text, sizeof text, "%08x", crc32(flash));
  return text;
}

// A 32-bit little-endian ELF executable's header for `machine`, its table of `count`
// program headers said to follow it, and nothing after it.
std::string elf_header(char machine, char count) {
  std::string header("\x7f" "ELF\x01\x01\x01", 7);
  header.resize(52, '\0');
  header[16] = 2, header[18] = machine, header[28] = 52, header[42] = 32, header[44] = count;
  return header;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, from.size(), to);
  return text;
}

RunResult run_in(const TempDir& dir, const std::vector<std::string>& args, const std::string& board = "") {
  RunResult r = varnprog_reported(dir, args, board);
  EXPECT_FALSE(r.timed_out);
  return r;
}

class Flows : public testing::Test {
 protected:
  RunResult run(const std::vector<std::string>& args, const std::string& board = "") { return run_in(dir, args, board); }
  std::string report(const std::string& key) { return report_of(dir, key); }
  TempDir dir;
};

using Pairs = std::vector<std::pair<std::string, std::string>>;

// Each row: files in a fresh folder, one run, and what standard output holds, the
// status, the board's report and the files' whole texts after.
TEST(FlowRuns, DownloadsUploadsAndRefusalsDoWhatTheySay) {
  const Bytes d291 = random_bytes(0x123, 1), d16 = random_bytes(291, 16), good = random_bytes(64, 10),
              d100 = random_bytes(100, 8);
  const std::string wrote = "Bytes written to target: 100  \r100 bytes written to target\n";
  const std::vector<std::string> refused_words = {"-nv", "-dfa.hex", "-sf", "-dea.hex", "-uekeep.hex", "-ufkeep.hex", "-daa.hex"};
  const Pairs refused_files = {{"a.hex", hex_text(random_bytes(16, 13))}, {"keep.hex", "precious\n"}};
  const std::vector<std::pair<std::string, size_t>> refused_counts = {
      {"Target not recognised - download refused\n", 6}, {"Target not recognised - upload refused\n", 2},
      {"Erase chip", 0}, {"Programming\n", 0}};
  struct Row {
    const char* label;
    Pairs files;
    std::vector<std::string> words;
    std::string board;
    std::vector<std::string> has;                        // in standard output
    std::vector<std::pair<std::string, size_t>> counts;  // times in standard output
    int status;
    Pairs report;
    Pairs after = {};  // files and their whole texts after the run
  } rows[] = {
      {"whole pages, then verified", {{"a.hex", hex_text(d291)}}, {"-dfa.hex"}, "",
       {"Erase chip\nProgramming\n", "Bytes written to target 291  \n", "Bytes written to target: 292  \r",
        "Flash bytes read: 292  \r", "Read back target to verify\n", "\nTarget Flash matches a.hex\n"}, {}, 0,
       // 128 words, then the 18 left over; 146 words
       {{"chip_erases", "1"}, {"page_writes", "2"}, {"flash_crc32", flash_crc(d291, 65536)}}},
      {"pages follow the part's page size; an empty file leaves the chip erased",
       {{"a130.hex", hex_text(random_bytes(130, 2))}, {"a128.hex", hex_text(random_bytes(128, 3))}, {"none.hex", ":00000001FF\n"}},
       {"-dfa130.hex", "-dfa128.hex", "-dfnone.hex"}, "part=ATmega168",
       {"Bytes written to target 0  \n", "\nTarget Flash matches none.hex\n"}, {}, 0,
       // 64 + 1 words, then exactly one page
       {{"page_writes", "3"}, {"chip_erases", "3"}, {"flash_crc32", flash_crc({}, 16384)}}},
      {"a wrong checksum loads with a warning", {{"a.hex", ":03000000010203F0\n:00000001FF\n"}}, {"-dfa.hex"}, "",
       {"a.hex line 1: checksum f0 should be f7 - loaded anyway\n", "\nTarget Flash matches a.hex\n"}, {}, 0,
       {{"flash_crc32", flash_crc({1, 2, 3}, 65536)}}},
      {"a busy target times out; the erase time-out skips programming",
       {{"a.hex", hex_text(random_bytes(16, 14))}, {"e.hex", hex_text(random_bytes(2, 15))}}, {"-dfa.hex", "-dee.hex"},
       "fault=busy", {"Erase chip\nError - Erase chip timeout\n"},
       {{"Programming\n", 1}, {"Error - EEPROM write timeout\n", 2}}, 2, {}},
      {"a read-only chip fails verification", {{"a.hex", hex_text(d16)}}, {"-dfa.hex"}, "fault=readonly",
       {"\n291 bytes mismatched\n\nERROR - Target does not match a.hex\n"}, {}, 2, {}},
      {"a locked chip is erased and programmed", {{"a.hex", hex_text(d16)}}, {"-dfa.hex"}, "fault=locked",
       {"\nTarget Flash matches a.hex\n"}, {}, 0, {{"flash_crc32", flash_crc(d16, 65536)}}},
      {"an erased EEPROM uploads as the end record alone", {}, {"-ueout.hex"}, "",
       {"Read 2048 target EEPROM bytes\nWrite Flash/EEPROM data to out.hex\n"}, {}, 0, {}, {{"out.hex", ":00000001FF\n"}}},
      {"ld resets the settings only when verifying; it never talks to the target",
       {{"a.hex", hex_text(random_bytes(8, 9))}}, {"-sf00", "-lda.hex", "-sf", "-nv", "-sf00", "-lda.hex", "-sf"}, "",
       {"Fill char=0\nFill char=ff\n", "Fill char=0\nFill char=0\n"}, {}, 0, {{"instructions", "0"}}},
      {"ld of a missing file", {}, {"-ldnothere.hex"}, "", {"Can't open download file\n"}, {}, 2, {}},
      {"missing or refused files never erase the chip; df once, da four times",
       {{"good.hex", hex_text(good)},
        {"bad.hex", ":10000000000102030405060708090A0B0C0D0E0F78\n:100010000001020304050607Z8090A0B0C0D0E0F68\n"},
        {"cut.hex", ":1000000000010203"}, {"far.hex", ":020000040006F4\n:0100000055AA\n"},
        {"big.hex", hex_text(random_bytes(4097, 11))}, {"bigee.hex", hex_text(random_bytes(257, 12))}},
       {"-dfgood.hex", "-dfnothere.hex", "-dfbad.hex", "-dfcut.hex", "-dffar.hex", "-dfbig.hex", "-debigee.hex", "-dabig.hex"},
       "part=ATmega48",
       {"Can't open download file\n", "bad.hex line 2: not a hexadecimal field - download refused\n",
        "cut.hex line 1: record cut short by the end of the file - download refused\n",
        "far.hex line 2: data up to 0x60001 beyond the 4096-byte flash of the ATmega48 - download refused\n",
        "bigee.hex line 17: data up to 0x101 beyond the 256-byte EEPROM of the ATmega48 - download refused\n"},
       {{"big.hex line 257: data up to 0x1001 beyond the 4096-byte flash of the ATmega48 - download refused\n", 5}}, 2,
       {{"chip_erases", "1"}, {"eeprom_writes", "0"}, {"flash_crc32", flash_crc(good, 4096)}}},
      // The refused flows still reset (sf after them prints ff); nothing is erased or written.
      {"an absent target is never touched", refused_files, refused_words, "fault=absent", {"Fill char=ff"},
       refused_counts, 2, {}, {{"keep.hex", "precious\n"}}},
      {"an unrecognised target is never touched", refused_files, refused_words, "part=ATtiny85", {"Fill char=ff"},
       refused_counts, 2, {}, {{"keep.hex", "precious\n"}}},
      {"da runs four passes; nv holds for the first only", {{"a.hex", hex_text(d100)}},
       {"-nv", "-daa.hex", "-damissing.hex"}, "part=ATmega88", {},
       {{"Reset 2: ", 2}, {"Reset 3: ", 2}, {"Reset 4: ", 2}, {"Reset 5: ", 2},
        {"load file length = 100\nErase chip\nProgramming\n", 4}, {wrote, 4}, {"Target matches a.hex\n", 3},
        {"Can't open download file\n", 4}},
       2, {{"chip_erases", "4"}, {"flash_crc32", flash_crc(d100, 8192)}}},
  };
  for (const Row& row : rows) {
    TempDir dir;
    for (const auto& [name, text] : row.files) dir.write(name, text);
    const RunResult r = run_in(dir, row.words, row.board);
    SCOPED_TRACE(std::string(row.label) + "\n" + r.out);
    for (const std::string& piece : row.has) EXPECT_NE(r.out.find(piece), std::string::npos) << piece;
    for (const auto& [piece, n] : row.counts) EXPECT_EQ(count_of(r.out, piece), n) << piece;
    EXPECT_EQ(r.status, row.status);
    for (const auto& [key, value] : row.report) EXPECT_EQ(report_of(dir, key), value) << key;
    for (const auto& [name, text] : row.after) EXPECT_EQ(dir.read(name), text) << name;
  }
}

TEST_F(Flows, NoVerifyHoldsForOneDownloadAndTheRecordTypeForAll) {
  dir.write("a.hex", hex_text(random_bytes(40, 4)));
  const Bytes big = random_bytes(70000, 5);
  dir.write("big.hex", hex_text(big));
  dir.write("out.hex", "an older upload\n");
  RunResult r = run({"-nv", "-dfa.hex", "-t2", "-dfbig.hex", "-ufout.hex"}, "part=ATmega128");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(count_of(r.out, "Read back target to verify\n"), 1u);
  EXPECT_GT(r.out.find("Read back target to verify\n"), r.out.find("Bytes written to target 40  \n"));
  EXPECT_NE(r.out.find("\nTarget Flash matches big.hex\n"), std::string::npos);
  EXPECT_NE(r.out.find("Write Flash/EEPROM data to out.hex\n"), std::string::npos);
  const std::string text = dir.read("out.hex");
  EXPECT_NE(text.find(":020000021000ec\n"), std::string::npos) << "t2 outlives the downloads";
  auto bytes = hex_bytes(text);
  ASSERT_EQ(bytes.size(), big.size());
  for (size_t i = 0; i < big.size(); ++i) ASSERT_EQ(bytes[static_cast<uint32_t>(i)], big[i]) << i;
}

// GNU objcopy, as another tool a user's files pass through: a HEX file it made from
// a binary downloads, and the uploads, with either kind of extended record, convert
// back to the same bytes. Skipped where objcopy is not installed.
TEST_F(Flows, ObjcopyReadsTheUploadsAndWritesDownloadableFiles) {
  if (std::system("command -v objcopy >/dev/null 2>&1") != 0) GTEST_SKIP() << "objcopy not installed";
  const Bytes flash = random_bytes(70000, 31);
  const Bytes eeprom = random_bytes(4096, 32);
  dir.write("flash.bin", std::string(flash.begin(), flash.end()));
  dir.write("eeprom.bin", std::string(eeprom.begin(), eeprom.end()));
  const std::string in = "cd '" + dir.path() + "' && ";
  ASSERT_EQ(std::system((in + "objcopy -I binary -O ihex flash.bin flash.hex && "
                               "objcopy -I binary -O ihex eeprom.bin eeprom.hex").c_str()),
            0);
  RunResult r = run({"-dfflash.hex", "-deeeprom.hex", "-uff4.hex", "-uee4.hex", "-t2", "-uff2.hex", "-uee2.hex"},
                    "part=ATmega128");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\nTarget Flash matches flash.hex\n"), std::string::npos);
  EXPECT_NE(r.out.find("Target matches eeprom.hex\n"), std::string::npos);
  EXPECT_EQ(report("flash_crc32"), flash_crc(flash, 131072));
  for (const char* name : {"f4", "f2", "e4", "e2"}) {
    const std::string base(name);
    ASSERT_EQ(std::system((in + "objcopy -I ihex -O binary " + base + ".hex " + base + ".bin").c_str()), 0)
        << name;
    // Read as it stands: dir.read undoes a Windows program's text mode, and this file is binary.
    std::ifstream in_file(dir.file(base + ".bin"), std::ios::binary);
    const std::string back{std::istreambuf_iterator<char>(in_file), std::istreambuf_iterator<char>()};
    const Bytes& expected = name[0] == 'f' ? flash : eeprom;
    EXPECT_EQ(back, std::string(expected.begin(), expected.end())) << name;
  }
  EXPECT_NE(dir.read("f2.hex").find(":020000021000ec\n"), std::string::npos);
  EXPECT_NE(dir.read("f4.hex").find(":020000040001f9\n"), std::string::npos);
}

TEST_F(Flows, EepromDownloadComparesUpToTheLastProgrammedByteOfTheReadBack) {
  dir.write("old.hex", hex_text(random_bytes(32, 6)));
  const Bytes fresh = random_bytes(16, 7);
  dir.write("new.hex", hex_text(fresh));
  RunResult r = run({"-deold.hex", "-denew.hex", "-ueout.hex"}, "part=ATmega168");
  EXPECT_NE(r.out.find("Target matches old.hex\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("load file length = 16\nProgramming\nBytes written to target 16\n"
                       "Read back target to verify\nRead 512 target EEPROM bytes\n"
                       "\n16 bytes mismatched\nERROR - Target does not match new.hex\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.status, 2) << "a mismatch is a failure of the run";
  EXPECT_EQ(report("chip_erases"), "0");
  EXPECT_EQ(report("eeprom_writes"), "48");
  auto bytes = hex_bytes(dir.read("out.hex"));
  ASSERT_EQ(bytes.size(), 32u);
  for (size_t i = 0; i < fresh.size(); ++i) EXPECT_EQ(bytes[static_cast<uint32_t>(i)], fresh[i]);
}

TEST_F(Flows, UploadKeepsEveryDataByteUpToTheMemorysLast) {
  // A full EEPROM, and one that holds data only in its last byte: both come back whole.
  Bytes full = random_bytes(256, 21);
  Bytes last(256, 0xFF);
  last[255] = 0x56;
  for (const Bytes* data : {&full, &last}) {
    dir.write("e.hex", hex_text(*data));
    RunResult r = run({"-nv", "-dee.hex", "-ueback.hex"}, "part=ATmega48");
    EXPECT_EQ(r.status, 0) << r.out;
    std::map<uint32_t, uint8_t> back = hex_bytes(dir.read("back.hex"));
    EXPECT_EQ(back.size(), 256u);
    for (uint32_t i = 0; i < 256; ++i) EXPECT_EQ(back[i], (*data)[i]) << i;
  }
}

// Every 100th of 292 programmed bytes flipped: two or three bytes mismatch.
TEST_F(Flows, FlippedBitsFailVerification) {
  dir.write("a.hex", hex_text(random_bytes(291, 16)));
  RunResult flip = run({"-dfa.hex"}, "fault=flip:100");
  const size_t verdict = flip.out.find(" bytes mismatched\n\nERROR - Target does not match a.hex\n");
  ASSERT_NE(verdict, std::string::npos) << flip.out;
  const int mismatched = std::stoi(flip.out.substr(flip.out.rfind('\n', verdict) + 1));
  EXPECT_GE(mismatched, 2);
  EXPECT_LE(mismatched, 3);
  EXPECT_EQ(flip.status, 2);
}

// Standard output without the progress lines, which end in '\r' and overwrite themselves.
std::string settled(std::string text) {
  for (size_t cr; (cr = text.find('\r')) != std::string::npos;) {
    const size_t start = text.rfind('\n', cr) + 1;  // npos + 1: the start of the text
    text.erase(start, cr + 1 - start);
  }
  return text;
}

// A pass means the chip holds the file; every failure fails the run and says why.
TEST_F(Flows, APassMeansTheChipHoldsTheFileAndEveryFailureSaysSo) {
  dir.write("a16.hex", hex_text(random_bytes(16, 40)));
  dir.write("full.hex", hex_text(random_bytes(256, 41)));  // the ATmega48's whole EEPROM
  dir.write("boot.hex", ":040F000001020304E3\n:0400000005060708E2\n:00000001FF\n");  // boot section first
  dir.write("far.hex", ":0410000001020304E2\n:0400000005060708E2\n:00000001FF\n");
  dir.write("blink.bin", std::string("\x7f" "ELF\x02\x01\x01\0\0\0", 10));
  dir.write("x86.elf", elf_header(3, 0));
  dir.write("cut.elf", elf_header(83, 1));
  dir.write("none.elf", elf_header(83, 0));
  dir.write("empty.hex", "");
  const std::string ee = "Programming\nBytes written to target 16\nRead back target to verify\nRead 256 target EEPROM bytes\n";
  const std::string no_match = "\n16 bytes mismatched\nERROR - Target does not match a16.hex\n";
  std::string da;
  for (char p : {'2', '3', '4', '5'})
    // The table's defaults leave SPIEN unprogrammed, which no chip on the cable reads.
    da += std::string("Reset ") + p + ": Target ATmega48 responding - default fuses not set\n"
          "   Default fuses: ff ff ff    Target fuses: ff df ff\nload file length = 16\n"
          "Erase chip\nProgramming\n16 bytes written to target\nRead back target to verify\n" + no_match;
  const std::string hint = "No target answered Programming Enable - check the cable";
  const std::string unknown = "Processor: Unrecognized signature\n";
  // Chips kept in state files: locked ones holding data, and one holding a 4 KiB program.
  dir.write("backup.hex", "old backup\n");
  dir.write("odd.hex", ":03000000010203F7\n:00000001FF\n");
  dir.write("end.hex", ":00000001FF\n");
  dir.write("two.hex", ":020000000102FB\n:00000001FF\n");
  dir.write("zero.hex", ":0400000001020304F2\n:001FF000F1\n:00000001FF\n");  // no bytes at 0x1ff0
  const std::string chip = "varn-sim-state 1\npart ATmega48\nfuses ff df ff\n";
  const std::string ee00 = "eeprom 000000 " + std::string(32, '0') + "\n";
  std::string program = chip + "lock ff\n";
  for (int a = 0; a < 4096; a += 32) {
    char line[16];
    std::snprintf(line, sizeof line, "flash %06x ", a);
    program += line + std::string(64, '9') + "\n";
  }
  const std::string not_erased = "Erase chip\nError - Erase chip failed\n";
  auto locked = [](const char* lock) {
    return std::string("Target is locked (lock byte ") + lock + ") - EEPROM download refused: only a chip erase "
           "clears the lock, and it costs the flash (and the EEPROM, unless EESAVE is programmed)\n";
  };
  const std::string not_read = "Target is locked - its memories read as ff, upload refused\n";
  const std::string not_fuse = "not written - '";
  struct Case {
    std::string board;
    std::vector<std::string> words;
    std::string out;               // after the banner
    std::vector<std::string> err;  // each once
    int status, erases;
    std::string state = {};                         // the chip, when not a new one
    std::pair<std::string, std::string> holds = {};  // a file and what it holds after
  } cases[] = {
      {"fault=readonly", {"-dea16.hex"}, "load file length = 16\n" + ee + no_match, {}, 2, 0},
      {"fault=locked", {"-dea16.hex"}, "load file length = 16\n" + locked("fc"), {}, 2, 0, "", {"report.txt", "eeprom_writes=0"}},
      {"", {"-dea16.hex"}, "load file length = 16\n" + locked("fe"), {}, 2, 0, chip + "lock fe\n" + ee00, {"chip.txt", "lock fe\n" + ee00.substr(0, 46)}},
      {"", {"-uebackup.hex", "-ufbackup.hex"}, not_read + not_read, {}, 2, 0, chip + "lock fd\n" + ee00, {"backup.hex", "old backup\n"}},
      {"fault=flip:4", {"-dfodd.hex"}, "Erase chip\nProgramming\nBytes written to target 3  \nRead back target to verify\n"
       "\n1 bytes mismatched\n\nERROR - Target does not match odd.hex\n", {}, 2, 1},  // the pad byte flipped
      {"fault=readonly", {"-dfend.hex"}, not_erased, {"flash word 0x0000 reads 9999 - nothing programmed\n"}, 2, 1, program,
       {"chip.txt", "flash 000fe0 " + std::string(64, '9')}},
      {"fault=readonly", {"-dfodd.hex"}, not_erased, {"The chip erase did not take: flash word 0x0000"}, 2, 1, program},
      {"", {"-detwo.hex"}, "load file length = 2\nProgramming\nBytes written to target 2\nRead back target to verify\n"
       "Read 256 target EEPROM bytes\n\n1 bytes mismatched\nERROR - Target does not match two.hex\n", {}, 2, 0,
       chip + "lock ff\neeprom 0000ff 55\n"},  // an old byte at the memory's last address
      {"", {"-dfzero.hex"}, "Erase chip\nProgramming\nBytes written to target 4  \nRead back target to verify\n"
       "\nTarget Flash matches zero.hex\n", {}, 0, 1},
      {"", {"-pf21df", "-pf2-a1", "-pf25f!!", "-adfodd.hex", "-a!"}, "Fuse byte 2 " + not_fuse + "1df' is not a byte in "
       "hexadecimal, up to 3 digits\nFuse byte 2 " + not_fuse + "-a1' is not a byte in hexadecimal, up to 3 digits\n"
       "Fuse byte 2 " + not_fuse + "5f!!' is not a byte in hexadecimal, up to 3 digits\nFuse bytes " + not_fuse + "adfodd.hex': "
       "a takes nothing after it\nFuse bytes " + not_fuse + "a!': a takes nothing after it\n", {}, 2, 0, "",
       {"report.txt", "fuse_writes=0"}},
      {"fault=readonly", {"-daa16.hex"}, da, {}, 2, 4},
      {"fault=flip:256", {"-defull.hex"}, "load file length = 256\nProgramming\nBytes written to target 256\n"
       "Read back target to verify\nRead 256 target EEPROM bytes\n\n1 bytes mismatched\nERROR - Target does not match full.hex\n", {}, 2, 0},
      {"", {"-dfboot.hex"}, "Erase chip\nProgramming\nBytes written to target 3844  \nRead back target to verify\n"
       "\nTarget Flash matches boot.hex\n", {}, 0, 1},
      {"", {"-dffar.hex"}, "far.hex line 1: data up to 0x1004 beyond the 4096-byte flash of the ATmega48 - download "
       "refused\n", {}, 2, 0},  // at its first record: nothing more of the file is read
      {"", {"-dfblink.bin", "-dfx86.elf", "-dfcut.elf", "-denone.elf", "-deempty.hex"},
       "blink.bin: not a 32-bit ELF file - download refused\n"
       "x86.elf: ELF file for machine 3, not for the AVR (83) - download refused\n"
       "cut.elf: ELF program headers cut short by the end of the file - download refused\n"
       "none.elf: no ELF section headers: nothing says what the segments hold - download refused\n"
       "empty.hex holds no Intel HEX records - download refused\n", {}, 2, 0},
      {"fault=absent", {"-gf", "-gc"}, "Fuse bytes: ff ff ff\nCalibration byte: ff\n", {hint}, 2, 0},
      {"fault=silent", {"-i"}, "Signature bytes: 0 0 1  " + unknown, {hint}, 2, 0},
      {"part=ATtiny85", {"-i"}, "Signature bytes: 1e 93 b  " + unknown, {}, 2, 0},
      {"part=ATtiny85", {"-s"}, unknown + " Lock byte = ff    No locks bits activated\n Signature = 1e 93 b\n"
       " Fuse bytes = ff df 62\n Calibration byte =  8c\n", {}, 2, 0},
      {"part=ATtiny85", {"-x1"}, "Target Processor Unrecognized but responding - default fuses set\n", {}, 2, 0},
      {"part=ATtiny85", {"-gf"}, "Fuse bytes: ff df 62\n", {}, 0, 0},  // a read is no identification
      {"part=ATmega168", {"-pfa0e2,0df,0ff"}, "Write fuse bytes: e2 df ff\n", {}, 0, 0},
      {"", {"-dfmissing.hex", "fnothere.txt"}, "Can't open download file\nCan't open file named: nothere.txt\n",
       {"missing.hex: No such file or directory\n", "nothere.txt: No such file or directory\n"}, 2, 0},
      {"", {"-bogus", "-ffile.txt"}, "", {"No command matches 'bogus' - h lists the commands\n", "'ffile.txt'"}, 2, 0},
      {"", {"dfa16.hex"}, "", {"Argument 'dfa16.hex' skipped - "}, 2, 0},  // its '-' forgotten: nothing ran
  };
  for (const Case& c : cases) {
    const std::string name = c.board + " " + c.words[0];
    const bool part_named = c.board.rfind("part=", 0) == 0;  // else an ATmega48
    if (!c.state.empty()) dir.write("chip.txt", c.state);
    const std::string part = c.state.empty() ? "part=ATmega48" : "state=chip.txt";
    RunResult r = run(c.words, part_named ? c.board : part + (c.board.empty() ? "" : "," + c.board));
    EXPECT_EQ(settled(after_banner(r)), c.out) << name;
    for (const std::string& line : c.err) EXPECT_EQ(count_of(r.err, line), 1u) << name << ": " << r.err;
    EXPECT_EQ(count_of(r.err, hint), c.err == std::vector<std::string>{hint} ? 1u : 0u) << name;
    EXPECT_EQ(r.status, c.status) << name;
    EXPECT_EQ(report("chip_erases"), std::to_string(c.erases)) << name;
    if (!c.holds.first.empty()) {
      EXPECT_NE(dir.read(c.holds.first).find(c.holds.second), std::string::npos) << name;
    }
  }
}

// An ELF file as avr-gcc links it programs what its avr-objcopy HEX twins do, in
// every download; the same file cut short is refused before the erase.
TEST_F(Flows, AnElfFileProgramsWhatItsHexTwinsDo) {
  const std::string made = VARN_BUILD_DIR "/tests/elf_program";
  std::ifstream elf_file(made + ".elf", std::ios::binary);
  if (!elf_file) GTEST_SKIP() << "avr-gcc is not installed, so no ELF file was built to download";
  const std::string elf{std::istreambuf_iterator<char>(elf_file), std::istreambuf_iterator<char>()};
  dir.write("p.elf", elf);
  dir.write("cut.elf", elf.substr(0, 300));  // into the code's segment
  for (const char* twin : {"flash", "eeprom"}) {
    std::ifstream hex(made + "-" + twin + ".hex");
    dir.write(std::string(twin) + ".hex", std::string{std::istreambuf_iterator<char>(hex), {}});
  }
  RunResult hex = run({"-dfflash.hex", "-deeeprom.hex", "-daflash.hex"}, "part=ATmega168");
  const std::string flash = report("flash_crc32"), eeprom = report("eeprom_crc32");
  RunResult r = run({"-dfp.elf", "-dep.elf", "-dap.elf"}, "part=ATmega168");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(settled(replaced(replaced(hex.out, "flash.hex", "p.elf"), "eeprom.hex", "p.elf")), settled(r.out));
  EXPECT_EQ(report("flash_crc32"), flash);
  EXPECT_EQ(report("eeprom_crc32"), eeprom);
  EXPECT_EQ(count_of(r.err, "p.elf: its fuse bytes are not programmed - pfa and pf1 to pf3 write fuses\n"), 5u);
  EXPECT_EQ(count_of(r.err, "p.elf: its lock bits are not programmed\n"), 5u) << r.err;

  RunResult cut = run({"-dfcut.elf"}, "part=ATmega168");
  EXPECT_NE(cut.out.find("cut.elf: ELF section headers cut short by the end of the file - download refused\n"),
            std::string::npos) << cut.out;
  EXPECT_EQ(report("chip_erases"), "0");
  EXPECT_EQ(cut.status, 2);
}

uint32_t field32(const std::string& f, size_t at) {
  uint32_t v = 0;
  for (size_t k = 4; k-- > 0;) v = v << 8 | static_cast<uint8_t>(f[at + k]);
  return v;
}
void put32(std::string& f, size_t at, uint32_t v) {
  for (size_t k = 0; k < 4; ++k) f[at + k] = static_cast<char>(v >> (8 * k));
}
// Where the header of the section `name` stands, and that of the segment holding it.
size_t section_header(const std::string& elf, const std::string& name) {
  const size_t table = field32(elf, 32), count = field32(elf, 48) & 0xFFFF, names_index = field32(elf, 50) & 0xFFFF;
  const size_t names = field32(elf, table + names_index * 40 + 16);
  for (size_t k = 0; k < count; ++k)
    if (elf.compare(names + field32(elf, table + k * 40), name.size() + 1, name.c_str(), name.size() + 1) == 0)
      return table + k * 40;
  return std::string::npos;
}
size_t segment_header(const std::string& elf, const std::string& section) {
  const size_t offset = field32(elf, section_header(elf, section) + 16);
  for (size_t k = 0, table = field32(elf, 28); k < (field32(elf, 44) & 0xFFFF); ++k)
    if (field32(elf, table + k * 32 + 4) == offset) return table + k * 32;
  return std::string::npos;
}

// The avr-gcc file patched into shapes avr-objcopy would refuse or read otherwise: each
// is refused whole, with its reason, before the chip is erased. A device note naming
// another part refuses the file unless a '!' forces it; its case doesn't matter.
TEST_F(Flows, MalformedElfFilesAreRefusedBeforeTheErase) {
  std::ifstream elf_file(VARN_BUILD_DIR "/tests/elf_program.elf", std::ios::binary);
  if (!elf_file) GTEST_SKIP() << "avr-gcc is not installed, so no ELF file was built to download";
  const std::string elf{std::istreambuf_iterator<char>(elf_file), std::istreambuf_iterator<char>()};
  const size_t device = elf.find("atmega168");
  ASSERT_NE(device, std::string::npos);
  char data_load[16];
  std::snprintf(data_load, sizeof data_load, "0x%x", field32(elf, segment_header(elf, ".data") + 12));
  const struct {
    const char* name;
    std::function<void(std::string&)> patch;
    std::string reason;
  } shapes[] = {
      {"wraps", [](std::string& f) { put32(f, segment_header(f, ".text") + 12, 0xFFFFFFF0); },
       "section .text at 0xfffffff0 wraps past the end of the address space"},
      {"nullseg", [](std::string& f) { put32(f, segment_header(f, ".text"), 0); },
       "section .text lies in no loadable segment"},
      {"sram", [](std::string& f) { put32(f, segment_header(f, ".data") + 12, 0x800100); },
       "section .data loads at 0x800100, outside flash"},
      {"eeprom", [](std::string& f) { put32(f, segment_header(f, ".eeprom") + 12, 0x81FFF0); },
       "section .eeprom loads at 0x81fff0, outside EEPROM"},
      {"disagree", [](std::string& f) { put32(f, section_header(f, ".text") + 12, 0x100); },
       "section .text at 0x100 disagrees with its segment at 0x0"},
      {"left", [](std::string& f) { f[field32(f, section_header(f, ".shstrtab") + 16) + field32(f, section_header(f, ".data"))
                                       + 1] = 'x'; },
       std::string("section .xata at ") + data_load + " is not one a download programs"},
      {"note", [](std::string& f) { put32(f, section_header(f, ".note.gnu.avr.deviceinfo") + 20, 8); },
       "its device note is cut short"},
      {"m644", [device](std::string& f) { f.replace(device, 9, "atmega644"); },
       "built for the atmega644, not the ATmega48 (a ! after the name forces it)"},
  };
  std::vector<std::string> words;
  std::string refusals;
  for (const auto& shape : shapes) {
    std::string file = elf;
    shape.patch(file);
    dir.write(std::string(shape.name) + ".elf", file);
    words.push_back(std::string(shape.name == std::string("eeprom") ? "-de" : "-df") + shape.name + ".elf");
    refusals += std::string(shape.name) + ".elf: " + shape.reason + " - download refused\n";
  }
  dir.write("p.elf", elf);
  words.push_back("-dap.elf");  // built for another part than the one on the cable
  RunResult r = run(words, "part=ATmega48");
  EXPECT_EQ(after_banner(r).substr(0, refusals.size()), refusals) << r.out;
  EXPECT_EQ(count_of(r.out, "p.elf: built for the atmega168, not the ATmega48 (a ! after the name forces it)"), 4u);
  EXPECT_EQ(report("chip_erases"), "0");
  EXPECT_EQ(r.status, 2);

  std::string upper = elf;
  upper.replace(device, 9, std::string("ATMEGA48\0", 9));
  dir.write("upper.elf", upper);
  RunResult forced = run({"-dfm644.elf!", "-dfupper.elf"}, "part=ATmega48");
  EXPECT_EQ(count_of(forced.out, "Target Flash matches m644.elf\n"), 1u) << forced.out;
  EXPECT_EQ(count_of(forced.out, "Target Flash matches upper.elf\n"), 1u) << forced.out;
  EXPECT_EQ(count_of(forced.err, "m644.elf: built for the atmega644, programmed into the ATmega48 as forced\n"), 1u);
  EXPECT_EQ(forced.status, 0) << forced.err;
}

// Where a person watches (script(1) gives the program a pseudo-terminal), the first
// start's calibration ends its line, and work past two seconds draws a progress line
// on standard error, cleared when done; redirected, standard error gets nothing
// extra. Standard output is the same bytes either way.
TEST_F(Flows, ProgressShowsOnATerminalOnly) {
  if (std::getenv("VARN_WINE_PROGRAMS") || std::system("command -v script >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "needs script(1) and the Linux programs";
  dir.write("e.hex", hex_text(random_bytes(300, 50)));  // about 9 ms a byte in real time
  const std::string program = "LPT1=sim:part=ATmega644 '" + built("varnprog") + "' ";
  ASSERT_EQ(std::system(("cd '" + dir.path() + "' && script -qec \"" + program + "-h; " + program +
                         "-dee.hex >out.txt\" /dev/null >terminal.txt")
                            .c_str()),
            0);
  const std::string terminal = dir.read("terminal.txt");
  EXPECT_EQ(count_of(terminal, "Calibrating delay .............\r\n"), 1u) << terminal;
  const size_t last = terminal.rfind("% of 300 bytes  0:0");
  ASSERT_NE(last, std::string::npos) << terminal;
  EXPECT_NE(terminal.find("\rEEPROM bytes written: "), std::string::npos);
  EXPECT_NE(terminal.find("\r" + std::string(30, ' '), last), std::string::npos) << "cleared when done";

  RunOptions options;
  options.args = {"-dee.hex"};
  options.env = {{"LPT1", "sim:part=ATmega644"}};
  RunResult plain = run_program("varnprog", options, dir);
  EXPECT_EQ(plain.out, dir.read("out.txt"));
  EXPECT_EQ(plain.err.find(" bytes  0:0"), std::string::npos) << plain.err;
  EXPECT_EQ(plain.status, 0) << plain.err;
}

}  // namespace
