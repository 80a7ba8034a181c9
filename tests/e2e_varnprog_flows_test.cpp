// The download and upload commands of varnprog, end to end against the simulated
// Varn board.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "e2e_varnprog_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// HEX text of `data` placed from address 0, 16 bytes a record, with type 04 records
// past 64 KiB; written here independently of the programmer's own writer.
std::string hex_text(const Bytes& data) {
  std::string text;
  char line[80];
  auto record = [&](unsigned count, unsigned address, unsigned type, const uint8_t* bytes) {
    unsigned sum = count + (address >> 8) + (address & 0xFF) + type;
    int n = std::snprintf(line, sizeof line, ":%02X%04X%02X", count, address & 0xFFFF, type);
    for (unsigned k = 0; k < count; ++k) {
      n += std::snprintf(line + n, sizeof line - n, "%02X", bytes[k]);
      sum += bytes[k];
    }
    std::snprintf(line + n, sizeof line - n, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    text += line;
  };
  for (size_t b = 0; b < data.size(); b += 16) {
    if (b % 65536 == 0 && b != 0) {
      const uint8_t base[2] = {static_cast<uint8_t>(b >> 24), static_cast<uint8_t>(b >> 16)};
      record(2, 0, 4, base);
    }
    record(static_cast<unsigned>(std::min<size_t>(16, data.size() - b)),
           static_cast<unsigned>(b & 0xFFFF), 0, data.data() + b);
  }
  return text + ":00000001FF\n";
}

// Bytes of a HEX file by address (types 00, 02 and 04).
std::map<uint32_t, uint8_t> hex_bytes(const std::string& text) {
  std::map<uint32_t, uint8_t> bytes;
  uint32_t base = 0;
  size_t at = 0;
  while ((at = text.find(':', at)) != std::string::npos) {
    auto field = [&](size_t offset, size_t digits) {
      return static_cast<uint32_t>(std::stoul(text.substr(at + 1 + offset, digits), nullptr, 16));
    };
    const uint32_t count = field(0, 2), address = field(2, 4), type = field(6, 2);
    if (type == 0)
      for (uint32_t k = 0; k < count; ++k) bytes[base + address + k] = static_cast<uint8_t>(field(8 + 2 * k, 2));
    if (type == 2) base = field(8, 4) * 16;
    if (type == 4) base = field(8, 4) << 16;
    ++at;
  }
  return bytes;
}

Bytes random_bytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  Bytes data(size);
  for (auto& b : data) b = static_cast<uint8_t>(random() % 0xFF);  // never 0xFF
  return data;
}

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

size_t count_of(const std::string& text, const std::string& piece) {
  size_t n = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
  return n;
}

class Flows : public testing::Test {
 protected:
  RunResult run(const std::vector<std::string>& args, const std::string& board = "") {
    std::string lpt = "sim:timing=fast,report=report.txt";
    if (!board.empty()) lpt += "," + board;
    RunOptions options;
    options.args = args;
    options.env = {{"LPT1", lpt}};
    RunResult r = run_program("varnprog", options, dir);
    EXPECT_FALSE(r.timed_out);
    return r;
  }
  std::string report(const std::string& key) {
    return report_value(dir.read("report.txt"), key).value_or("(missing " + key + ")");
  }
  TempDir dir;
};

TEST_F(Flows, FlashDownloadProgramsWholePagesAndVerifies) {
  const Bytes data = random_bytes(0x123, 1);
  dir.write("a.hex", hex_text(data));
  RunResult r = run({"-dfa.hex"});
  EXPECT_NE(r.out.find("Erase chip\nProgramming\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Bytes written to target 291  \n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Bytes written to target: 292  \r"), std::string::npos) << "146 words";
  EXPECT_NE(r.out.find("Flash bytes read: 292  \r"), std::string::npos);
  EXPECT_NE(r.out.find("Read back target to verify\n"), std::string::npos);
  EXPECT_NE(r.out.find("\nTarget Flash matches a.hex\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(report("chip_erases"), "1");
  EXPECT_EQ(report("page_writes"), "2");  // 128 words, then the 18 left over
  EXPECT_EQ(report("flash_crc32"), flash_crc(data, 65536));
}

TEST_F(Flows, PagesFollowThePartsPageSize) {
  dir.write("a130.hex", hex_text(random_bytes(130, 2)));
  dir.write("a128.hex", hex_text(random_bytes(128, 3)));
  dir.write("none.hex", ":00000001FF\n");
  RunResult r = run({"-dfa130.hex", "-dfa128.hex", "-dfnone.hex"}, "part=ATmega168");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(report("page_writes"), "3");  // 64 + 1 words, then exactly one page
  EXPECT_EQ(report("chip_erases"), "3");
  EXPECT_NE(r.out.find("Bytes written to target 0  \n"), std::string::npos);
  EXPECT_NE(r.out.find("\nTarget Flash matches none.hex\n"), std::string::npos) << r.out;
  EXPECT_EQ(report("flash_crc32"), flash_crc({}, 16384)) << "an empty file leaves the chip erased";
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

TEST_F(Flows, UploadOfAnErasedEepromHoldsOnlyTheEndRecord) {
  RunResult r = run({"-ueout.hex"});
  EXPECT_NE(r.out.find("Read 2048 target EEPROM bytes\nWrite Flash/EEPROM data to out.hex\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(dir.read("out.hex"), ":00000001FF\n");
  EXPECT_EQ(r.status, 0);
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

TEST_F(Flows, DownloadToAllProcessorsRunsFourPasses) {
  const Bytes data = random_bytes(100, 8);
  dir.write("a.hex", hex_text(data));
  RunResult r = run({"-nv", "-daa.hex", "-damissing.hex"}, "part=ATmega88");
  for (int p = 2; p <= 5; ++p)
    EXPECT_EQ(count_of(r.out, "Reset " + std::to_string(p) + ": "), 2u) << r.out;
  EXPECT_EQ(count_of(r.out, "load file length = 100\nErase chip\nProgramming\n"), 4u);
  EXPECT_EQ(count_of(r.out, "Bytes written to target: 100  \r100 bytes written to target\n"), 4u);
  EXPECT_EQ(count_of(r.out, "Target matches a.hex\n"), 3u) << "nv holds for the first pass only";
  EXPECT_EQ(count_of(r.out, "Can't open download file\n"), 4u);
  EXPECT_EQ(report("chip_erases"), "4");
  EXPECT_EQ(report("flash_crc32"), flash_crc(data, 8192));
  EXPECT_EQ(r.status, 2);
}

TEST_F(Flows, LoadOnlyResetsTheSettingsOnlyWhenVerifying) {
  dir.write("a.hex", hex_text(random_bytes(8, 9)));
  RunResult r = run({"-sf00", "-lda.hex", "-sf", "-nv", "-sf00", "-lda.hex", "-sf"});
  EXPECT_NE(r.out.find("Fill char=0\nFill char=ff\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Fill char=0\nFill char=0\n"), std::string::npos) << r.out;
  EXPECT_EQ(report("instructions"), "0") << "ld never talks to the target";

  RunResult missing = run({"-ldnothere.hex"});
  EXPECT_NE(missing.out.find("Can't open download file\n"), std::string::npos);
  EXPECT_EQ(missing.status, 2);
}

TEST_F(Flows, MissingOrRefusedFilesNeverEraseTheChip) {
  const Bytes data = random_bytes(64, 10);
  dir.write("good.hex", hex_text(data));
  dir.write("bad.hex", ":10000000000102030405060708090A0B0C0D0E0F78\n:100010000001020304050607Z8090A0B0C0D0E0F68\n");
  dir.write("cut.hex", ":1000000000010203");
  dir.write("far.hex", ":020000040006F4\n:0100000055AA\n");
  dir.write("big.hex", hex_text(random_bytes(4097, 11)));
  dir.write("bigee.hex", hex_text(random_bytes(257, 12)));
  RunResult r = run({"-dfgood.hex", "-dfnothere.hex", "-dfbad.hex", "-dfcut.hex", "-dffar.hex",
                     "-dfbig.hex", "-debigee.hex", "-dabig.hex"},
                    "part=ATmega48");
  EXPECT_NE(r.out.find("Can't open download file\n"), std::string::npos);
  EXPECT_NE(r.out.find("bad.hex line 2: not a hexadecimal field - download refused\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("cut.hex line 1: record cut short by the end of the file - download refused\n"), std::string::npos);
  EXPECT_NE(r.out.find("far.hex line 2: data up to 0x60001 beyond the 364000-byte image - download refused\n"), std::string::npos);
  EXPECT_NE(r.out.find("big.hex: 4097 bytes do not fit the 4096-byte flash of the ATmega48 - download refused\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("bigee.hex: 257 bytes do not fit the 256-byte EEPROM of the ATmega48 - download refused\n"), std::string::npos) << r.out;
  EXPECT_EQ(count_of(r.out, "big.hex: 4097 bytes do not fit"), 5u) << "df once, da four times";
  EXPECT_EQ(report("chip_erases"), "1") << "only good.hex erased the chip";
  EXPECT_EQ(report("eeprom_writes"), "0");
  EXPECT_EQ(report("flash_crc32"), flash_crc(data, 4096));
  EXPECT_EQ(r.status, 2);
}

TEST_F(Flows, AWrongChecksumStillLoadsWithAWarning) {
  dir.write("a.hex", ":03000000010203F0\n:00000001FF\n");
  RunResult r = run({"-dfa.hex"});
  EXPECT_NE(r.out.find("a.hex line 1: checksum f0 should be f7 - loaded anyway\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nTarget Flash matches a.hex\n"), std::string::npos);
  EXPECT_EQ(report("flash_crc32"), flash_crc({1, 2, 3}, 65536));
}

TEST_F(Flows, UnrecognisedTargetsAreNeverTouched) {
  dir.write("a.hex", hex_text(random_bytes(16, 13)));
  dir.write("keep.hex", "precious\n");
  for (std::string board : {"fault=absent", "part=ATmega328P"}) {
    RunResult r = run({"-nv", "-dfa.hex", "-sf", "-dea.hex", "-uekeep.hex", "-ufkeep.hex", "-daa.hex"}, board);
    EXPECT_EQ(count_of(r.out, "Target not recognised - download refused\n"), 6u) << board << r.out;
    EXPECT_EQ(count_of(r.out, "Target not recognised - upload refused\n"), 2u) << board;
    EXPECT_NE(r.out.find("Fill char=ff"), std::string::npos) << "the refused flow still resets";
    EXPECT_EQ(r.out.find("Erase chip"), std::string::npos);
    EXPECT_EQ(r.out.find("Programming\n"), std::string::npos);
    EXPECT_EQ(dir.read("keep.hex"), "precious\n");
    EXPECT_EQ(r.status, 2);
  }
}

TEST_F(Flows, ABusyTargetTimesOut) {
  dir.write("a.hex", hex_text(random_bytes(16, 14)));
  dir.write("e.hex", hex_text(random_bytes(2, 15)));
  RunResult r = run({"-dfa.hex", "-dee.hex"}, "fault=busy");
  EXPECT_NE(r.out.find("Erase chip\nError - Erase chip timeout\n"), std::string::npos) << r.out;
  EXPECT_EQ(count_of(r.out, "Programming\n"), 1u) << "the erase time-out skips programming";
  EXPECT_EQ(count_of(r.out, "Error - EEPROM write timeout\n"), 2u);
  EXPECT_EQ(r.status, 2);
}

TEST_F(Flows, FaultyChipsFailVerification) {
  const Bytes data = random_bytes(291, 16);
  dir.write("a.hex", hex_text(data));
  RunResult readonly = run({"-dfa.hex"}, "fault=readonly");
  EXPECT_NE(readonly.out.find("\n291 bytes mismatched\n\nERROR - Target does not match a.hex\n"), std::string::npos) << readonly.out;
  EXPECT_EQ(readonly.status, 2);

  RunResult flip = run({"-dfa.hex"}, "fault=flip:100");
  const size_t verdict = flip.out.find(" bytes mismatched\n\nERROR - Target does not match a.hex\n");
  ASSERT_NE(verdict, std::string::npos) << flip.out;
  const int mismatched = std::stoi(flip.out.substr(flip.out.rfind('\n', verdict) + 1));
  EXPECT_GE(mismatched, 2);  // every 100th of 292 programmed bytes
  EXPECT_LE(mismatched, 3);
  EXPECT_EQ(flip.status, 2);

  RunResult locked = run({"-dfa.hex"}, "fault=locked");
  EXPECT_NE(locked.out.find("\nTarget Flash matches a.hex\n"), std::string::npos) << locked.out;
  EXPECT_EQ(report("flash_crc32"), flash_crc(data, 65536));
  EXPECT_EQ(locked.status, 0);
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
  dir.write("zero.hex", ":0400000001020304F2\n:001FF000F1\n:00000001FF\n");  // no bytes at 0x1ff0
  const std::string chip = "varn-sim-state 1\npart ATmega48\nfuses ff df ff\n";
  const std::string ee00 = "eeprom 000000 " + std::string(32, '0') + "\n";
  std::string program = chip + "lock ff\n";
  for (int a = 0; a < 4096; a += 32) {
    char line[16];
    std::snprintf(line, sizeof line, "flash %06x ", a);
    program += line + std::string(64, '9') + "\n";
  }
  const std::string not_erased = "Erase chip\nError - Erase chip timeout\n";
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
      {"", {"-dfzero.hex"}, "Erase chip\nProgramming\nBytes written to target 4  \nRead back target to verify\n"
       "\nTarget Flash matches zero.hex\n", {}, 0, 1},
      {"", {"-pf21df", "-pf2-a1", "-pf25f!!"}, "Fuse byte 2 " + not_fuse + "1df' is not a byte in hexadecimal, up to 3 digits\n"
       "Fuse byte 2 " + not_fuse + "-a1' is not a byte in hexadecimal, up to 3 digits\nFuse byte 2 " + not_fuse + "5f!!' is not a "
       "byte in hexadecimal, up to 3 digits\n", {}, 2, 0, "", {"report.txt", "fuse_writes=0"}},
      {"fault=readonly", {"-daa16.hex"}, da, {}, 2, 4},
      {"fault=flip:256", {"-defull.hex"}, "load file length = 256\nProgramming\nBytes written to target 256\n"
       "Read back target to verify\nRead 256 target EEPROM bytes\n\n1 bytes mismatched\nERROR - Target does not match full.hex\n", {}, 2, 0},
      {"", {"-dfboot.hex"}, "Erase chip\nProgramming\nBytes written to target 3844  \nRead back target to verify\n"
       "\nTarget Flash matches boot.hex\n", {}, 0, 1},
      {"", {"-dffar.hex"}, "far.hex: 4100 bytes do not fit the 4096-byte flash of the ATmega48 - download refused\n", {}, 2, 0},
      {"", {"-dfblink.bin", "-dfx86.elf", "-dfcut.elf", "-denone.elf", "-deempty.hex"},
       "blink.bin: not a 32-bit ELF file - download refused\n"
       "x86.elf: ELF file for machine 3, not for the AVR (83) - download refused\n"
       "cut.elf: ELF program headers cut short by the end of the file - download refused\n"
       "none.elf: no EEPROM data in the ELF file - download refused\n"
       "empty.hex holds no Intel HEX records - download refused\n", {}, 2, 0},
      {"fault=absent", {"-gf", "-gc"}, "Fuse bytes: ff ff ff\nCalibration byte: ff\n", {hint}, 2, 0},
      {"fault=silent", {"-i"}, "Signature bytes: 0 0 1  " + unknown, {hint}, 2, 0},
      {"part=ATmega328P", {"-i"}, "Signature bytes: 1e 95 f  " + unknown, {}, 2, 0},
      {"part=ATmega328P", {"-s"}, unknown + " Lock byte = ff    No locks bits activated\n Signature = 1e 95 f\n"
       " Fuse bytes = ff d9 62\n Calibration byte =  9e\n", {}, 2, 0},
      {"part=ATmega328P", {"-x1"}, "Target Processor Unrecognized but responding - default fuses set\n", {}, 2, 0},
      {"part=ATmega328P", {"-gf"}, "Fuse bytes: ff d9 62\n", {}, 0, 0},  // a read is no identification
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
  EXPECT_NE(cut.out.find("cut.elf: segment at 0x0 cut short by the end of the file - download refused\n"),
            std::string::npos) << cut.out;
  EXPECT_EQ(report("chip_erases"), "0");
  EXPECT_EQ(cut.status, 2);
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
