// The varn board's chip model driven through its pins: every read and write
// instruction, page buffer and AND semantics, busy periods, and the faults.
#include <gtest/gtest.h>

#include "varn_banger.h"

using namespace io::sim;

namespace {
struct PartCase {
  const char* name;
  std::array<uint8_t, 3> signature;
  std::array<uint8_t, 3> fuses;  // table: extended, high, low
};
}  // namespace

TEST(VarnChip, EveryPartAnswersItsSignatureAndTableFuses) {
  const PartCase cases[] = {
      // The table's ATmega32 and ATmega48 rows leave SPIEN (high bit 5) unprogrammed: a chip on the cable has it.
      {"ATmega16", {0x1E, 0x94, 0x03}, {0xD4, 0xD9, 0xD4}}, {"ATmega32", {0x1E, 0x95, 0x02}, {0xD9, 0xC4, 0xFF}},
      {"ATmega48", {0x1E, 0x92, 0x05}, {0xFF, 0xDF, 0xFF}}, {"ATmega88", {0x1E, 0x93, 0x0A}, {0xF9, 0xDF, 0xE2}},
      {"ATmega168", {0x1E, 0x94, 0x06}, {0xF9, 0xDF, 0xE2}}, {"ATmega644", {0x1E, 0x96, 0x09}, {0xFF, 0xD9, 0xE7}},
      {"ATmega128", {0x1E, 0x97, 0x02}, {0xFF, 0xCB, 0x8F}}, {"atmega328p", {0x1E, 0x95, 0x0F}, {0xFF, 0xD9, 0x62}},
  };
  for (const PartCase& c : cases) {
    Banger b(std::string("timing=fast,part=") + c.name);
    ASSERT_TRUE(b.board) << b.message;
    ASSERT_EQ(b.enable(), 0x53) << c.name;
    EXPECT_EQ(b.signature(), c.signature) << c.name;
    EXPECT_EQ(b.fuses(), c.fuses) << c.name;
    EXPECT_EQ(b.answer(0x58, 0x00, 0x00), 0xFF) << c.name;
    EXPECT_EQ(b.answer(0x38, 0x00, 0x00), b.chip().calibration) << c.name;
  }
  Banger factory("timing=fast,fuses=factory");
  factory.enable();
  EXPECT_EQ(factory.fuses(), (std::array<uint8_t, 3>{0xFF, 0x99, 0x62}));
}

TEST(VarnChip, PageWritesAndTheFlashCanOnlyClearBits) {
  Banger b("timing=fast");
  ASSERT_EQ(b.enable(), 0x53);
  b.load_word(0, 0x1234);
  b.load_word(127, 0xBEEF);
  b.write_page(0x0100 + 5);  // any word of the page: the page starts at 0x0100
  EXPECT_EQ(b.read_word(0x0100), 0x1234);
  EXPECT_EQ(b.read_word(0x0101), 0xFFFF);  // never loaded: left erased
  EXPECT_EQ(b.read_word(0x017F), 0xBEEF);
  EXPECT_EQ(b.read_word(0x0000), 0xFFFF);

  // The buffer empties itself after a page write: writing again changes nothing.
  b.write_page(0x0100);
  EXPECT_EQ(b.read_word(0x0100), 0x1234);
  // Without an erase a second write ANDs into the cells.
  b.load_word(0, 0x0FF0);
  b.write_page(0x0100);
  EXPECT_EQ(b.read_word(0x0100), 0x1234 & 0x0FF0);
  // Page offsets wrap at the page size; the last loaded byte of a word wins.
  b.load_word(130, 0x5555);
  b.load_word(2, 0xA5A5);
  b.write_page(0x0200);
  EXPECT_EQ(b.read_word(0x0202), 0xA5A5);
  EXPECT_EQ(b.chip().count.page_writes, 4u);
}

TEST(VarnChip, ChipEraseEepromFusesAndLock) {
  Banger b("timing=fast");
  ASSERT_EQ(b.enable(), 0x53);
  b.load_word(3, 0x0000);
  b.write_page(0);
  // An EEPROM byte write erases the byte first: it can set bits again.
  b.write_eeprom(0x01FF, 0x0F);
  b.write_eeprom(0x01FF, 0xF0);
  EXPECT_EQ(b.read_eeprom(0x01FF), 0xF0);
  b.write_eeprom(0x0000, 0x42);

  b.instruction(0xAC, 0xA0, 0x00, 0x62);  // low fuse
  b.instruction(0xAC, 0xA8, 0x00, 0x99);  // high fuse
  b.instruction(0xAC, 0xA4, 0x00, 0xFD);  // extended fuse
  b.wait_ready();
  EXPECT_EQ(b.fuses(), (std::array<uint8_t, 3>{0xFD, 0x99, 0x62}));
  b.instruction(0xAC, 0xE0, 0x00, 0xFE);
  b.instruction(0xAC, 0xE0, 0x00, 0xFD);  // lock bits only program further: FE & FD
  EXPECT_EQ(b.answer(0x58, 0x00, 0x00), 0xFC);
  EXPECT_EQ(b.read_eeprom(0x0000), 0xFF);  // LB2 programmed: no verification

  b.chip_erase();
  EXPECT_EQ(b.answer(0x58, 0x00, 0x00), 0xFF);
  EXPECT_EQ(b.read_word(3), 0xFFFF);
  EXPECT_EQ(b.read_eeprom(0x01FF), 0xFF);
  EXPECT_EQ(b.read_eeprom(0x0000), 0xFF);
  // Fuses survive the erase.
  EXPECT_EQ(b.fuses(), (std::array<uint8_t, 3>{0xFD, 0x99, 0x62}));

  // EEPROM page mode on the ATmega644: 8-byte pages, only loaded bytes are written.
  b.instruction(0xC1, 0x00, 0x01, 0x11);
  b.instruction(0xC1, 0x00, 0x0A, 0x22);  // offset wraps to 2
  b.instruction(0xC2, 0x00, 0x13, 0x00);  // page at 0x10
  b.wait_ready();
  EXPECT_EQ(b.read_eeprom(0x11), 0x11);
  EXPECT_EQ(b.read_eeprom(0x12), 0x22);
  EXPECT_EQ(b.read_eeprom(0x10), 0xFF);
  const Counters& c = b.chip().count;
  EXPECT_EQ(c.chip_erases, 1u);
  EXPECT_EQ(c.eeprom_writes, 4u);
  EXPECT_EQ(c.fuse_writes, 3u);
}

TEST(VarnChip, BusyPeriodsInRealTime) {
  Banger b("");  // ATmega644: chip erase 55 ms, EEPROM 9 ms, the longest its facts allow
  ASSERT_EQ(b.enable(), 0x53);
  b.instruction(0xAC, 0x80, 0x00, 0x00);
  double erased_at = b.now;
  EXPECT_EQ(b.answer(0xF0, 0x00, 0x00) & 1, 1);
  // Sent while busy: ignored, so this byte is never written.
  b.instruction(0xC0, 0x00, 0x10, 0x55);
  EXPECT_EQ(b.chip().count.ignored_while_busy, 1u);
  b.now = erased_at + 54000;  // a poll itself takes about 0.5 ms here
  EXPECT_EQ(b.answer(0xF0, 0x00, 0x00) & 1, 1);
  b.now = erased_at + 55001;
  EXPECT_EQ(b.answer(0xF0, 0x00, 0x00), 0xFE);
  EXPECT_EQ(b.read_eeprom(0x10), 0xFF);

  b.instruction(0xC0, 0x00, 0x10, 0x55);
  double written_at = b.now;
  b.now = written_at + 8000;
  EXPECT_EQ(b.answer(0xF0, 0x00, 0x00) & 1, 1);
  b.now = written_at + 9100;
  EXPECT_EQ(b.read_eeprom(0x10), 0x55);

  // The mega48 family writes an EEPROM byte in 3.6 ms; pages take 4.5 ms everywhere.
  Banger small("part=ATmega88");
  ASSERT_EQ(small.enable(), 0x53);
  small.instruction(0xC0, 0x00, 0x01, 0x01);
  double t = small.now;
  small.now = t + 3700;
  EXPECT_EQ(small.answer(0xF0, 0x00, 0x00) & 1, 0);
  small.instruction(0x4C, 0x00, 0x00, 0x00);
  t = small.now;
  small.now = t + 4000;
  EXPECT_EQ(small.answer(0xF0, 0x00, 0x00) & 1, 1);
  small.now = t + 4600;
  EXPECT_EQ(small.answer(0xF0, 0x00, 0x00) & 1, 0);
}

TEST(VarnChip, FastBusyEndsAfterAFewPollsOrTheNextInstruction) {
  Banger b("timing=fast");
  ASSERT_EQ(b.enable(), 0x53);
  b.instruction(0xAC, 0x80, 0x00, 0x00);
  EXPECT_EQ(b.wait_ready(), FAST_BUSY_POLLS);
  // Without a poll the next instruction is carried out, not ignored.
  b.instruction(0xC0, 0x00, 0x20, 0x77);
  b.instruction(0xC0, 0x00, 0x21, 0x78);
  EXPECT_EQ(b.read_eeprom(0x20), 0x77);
  EXPECT_EQ(b.read_eeprom(0x21), 0x78);
  EXPECT_EQ(b.chip().count.ignored_while_busy, 0u);
}

TEST(VarnChip, AbsentAndSilentChips) {
  Banger absent("timing=fast,fault=absent");
  EXPECT_EQ(absent.instruction(0xAC, 0x53, 0x00, 0x00), (std::array<uint8_t, 4>{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(absent.enable(), 0xFF);
  EXPECT_EQ(absent.chip().count.instructions, 0u);

  Banger silent("timing=fast,fault=silent");
  uint8_t answer = silent.enable();
  EXPECT_NE(answer, 0x53);
  EXPECT_NE(answer, 0xFF);  // it is there, just never in step
  silent.instruction(0xAC, 0x80, 0x00, 0x00);
  EXPECT_EQ(silent.chip().count.chip_erases, 0u);
  EXPECT_NE(silent.enable(), 0x53);
}

TEST(VarnChip, BusyFaultStillCarriesOutInstructions) {
  Banger b("fault=busy");
  ASSERT_EQ(b.enable(), 0x53);
  EXPECT_EQ(b.wait_ready(50), -1);
  b.write_eeprom(0x30, 0x12);
  b.write_eeprom(0x31, 0x34);  // sent in the busy period of the first: still carried out
  EXPECT_EQ(b.read_eeprom(0x30), 0x12);
  EXPECT_EQ(b.read_eeprom(0x31), 0x34);
  EXPECT_EQ(b.chip().count.ignored_while_busy, 0u);
}

TEST(VarnChip, FlipFaultCorruptsEveryNthProgrammedByte) {
  Banger b("timing=fast,fault=flip:3");
  ASSERT_EQ(b.enable(), 0x53);
  for (uint8_t i = 0; i < 6; i++) b.write_eeprom(i, 0xF0);
  for (uint8_t i = 0; i < 6; i++) EXPECT_EQ(b.read_eeprom(i), (i % 3 == 2) ? 0xF1 : 0xF0) << int(i);
  // Flash bytes count on in the same sequence: the 9th programmed byte is the low byte
  // of word 1. Only loaded bytes are programmed.
  b.load_word(0, 0x0000);
  b.load_word(1, 0x0000);
  b.write_page(0);
  EXPECT_EQ(b.read_word(0), 0x0000);
  EXPECT_EQ(b.read_word(1), 0x0001);
  EXPECT_EQ(b.read_word(2), 0xFFFF);
  EXPECT_EQ(b.chip().count.flipped_bytes, 3u);
}

TEST(VarnChip, LockedChipUntilAChipErase) {
  Banger b("timing=fast,fault=locked");
  ASSERT_EQ(b.enable(), 0x53);
  EXPECT_EQ(b.answer(0x58, 0x00, 0x00), 0xFC);
  EXPECT_EQ(b.signature()[1], 0x96);  // signature and fuses stay readable
  b.chip().flash[0] = 0x12;           // something to hide
  EXPECT_EQ(b.read_word(0), 0xFFFF);
  b.write_eeprom(0, 0x00);
  b.instruction(0xAC, 0xA0, 0x00, 0x00);
  EXPECT_EQ(b.chip().eeprom[0], 0xFF);
  EXPECT_EQ(b.fuses()[2], 0xE7);
  b.chip_erase();
  EXPECT_EQ(b.answer(0x58, 0x00, 0x00), 0xFF);
  b.write_eeprom(0, 0x00);
  EXPECT_EQ(b.read_eeprom(0), 0x00);
}

TEST(VarnChip, ReadonlyChipIgnoresEveryWrite) {
  Banger b("timing=fast,fault=readonly");
  ASSERT_EQ(b.enable(), 0x53);
  b.chip().flash[0] = 0x00;
  b.chip_erase();
  b.load_word(0, 0x0000);
  b.write_page(0);
  b.write_eeprom(5, 0x00);
  b.instruction(0xAC, 0xA8, 0x00, 0x00);
  b.instruction(0xAC, 0xE0, 0x00, 0x00);
  EXPECT_EQ(b.read_word(0), 0xFF00);  // the erase did not happen either
  EXPECT_EQ(b.read_eeprom(5), 0xFF);
  EXPECT_EQ(b.fuses()[1], 0xD9);
  EXPECT_EQ(b.answer(0x58, 0x00, 0x00), 0xFF);
  EXPECT_EQ(b.chip().count.page_writes, 1u);  // the requests are still counted
}
