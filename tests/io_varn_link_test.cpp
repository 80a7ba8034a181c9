// The varn board's serial-programming link at its pins: entering programming mode,
// staying in step, the echo, and the SCK and RESET timing rules.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "varn_banger.h"
#include "support/run_program.h"

using namespace io::sim;

TEST(VarnLink, EnablesInStepAndEchoes) {
  Banger b("");
  ASSERT_TRUE(b.board) << b.message;
  b.reset_pulse();
  EXPECT_EQ(b.board->link(), Link::await_enable);
  // Byte 1 finds MISO released; from then on each byte echoes the one before.
  std::array<uint8_t, 4> enable = b.instruction(0xAC, 0x53, 0x00, 0x00);
  EXPECT_EQ(enable, (std::array<uint8_t, 4>{0xFF, 0xAC, 0x53, 0x00}));
  EXPECT_EQ(b.board->link(), Link::enabled);
  // In step, each byte carries the byte received just before, except the answer.
  std::array<uint8_t, 4> load = b.instruction(0x40, 0x00, 0x05, 0xAB);
  EXPECT_EQ(load, (std::array<uint8_t, 4>{0x00, 0x40, 0x00, 0x05}));
  std::array<uint8_t, 4> sig = b.instruction(0x30, 0x00, 0x01, 0x77);
  EXPECT_EQ(sig, (std::array<uint8_t, 4>{0xAB, 0x30, 0x00, 0x96}));
  EXPECT_EQ(b.signature(), (std::array<uint8_t, 3>{0x1E, 0x96, 0x09}));
}

TEST(VarnLink, NeedsACleanResetPulse) {
  Banger never("");
  never.set(PIN_MOSI, true);
  never.wait(30000);  // RESET low since the port opened, but no pulse
  EXPECT_EQ(never.instruction(0xAC, 0x53, 0x00, 0x00)[2], 0xFF);
  EXPECT_EQ(never.board->link(), Link::held);

  Banger clocked("");
  clocked.set(PIN_RESET, true);
  clocked.wait(100);
  clocked.clock_bit(1);  // SCK pulses during the RESET pulse
  clocked.wait(100);
  clocked.set(PIN_RESET, false);
  clocked.wait(21000);
  EXPECT_EQ(clocked.instruction(0xAC, 0x53, 0x00, 0x00)[2], 0xFF);
  // A fresh, clean pulse recovers.
  EXPECT_EQ(clocked.enable(), 0x53);

  Banger running("");
  ASSERT_EQ(running.enable(), 0x53);
  running.release();
  EXPECT_EQ(running.miso(), 1);
  EXPECT_EQ(running.answer(0x30, 0x00, 0x00), 0xFF);
  EXPECT_EQ(running.board->link(), Link::running);
}

TEST(VarnLink, OutOfStepStaysDeafUntilTheNextPulse) {
  Banger b("");
  b.reset_pulse();
  b.clock_bit(0);  // one stray clock: the chip's bytes are now framed one bit early
  EXPECT_NE(b.instruction(0xAC, 0x53, 0x00, 0x00)[2], 0x53);
  EXPECT_EQ(b.board->link(), Link::out_of_step);
  // Even a well-framed Programming Enable goes unheard, and nothing is carried out.
  b.instruction(0xAC, 0x53, 0x00, 0x00);
  b.instruction(0xAC, 0x53, 0x00, 0x00);
  b.instruction(0xAC, 0x80, 0x00, 0x00);
  EXPECT_EQ(b.chip().count.chip_erases, 0u);
  EXPECT_EQ(b.answer(0x30, 0x00, 0x00), 0xFF);
  EXPECT_EQ(b.enable(), 0x53);
  EXPECT_EQ(b.signature()[2], 0x09);

  // A first instruction other than Programming Enable puts the chip out of step too.
  Banger wrong("");
  wrong.reset_pulse();
  wrong.instruction(0x30, 0x00, 0x00, 0x00);
  EXPECT_EQ(wrong.board->link(), Link::out_of_step);
  EXPECT_EQ(wrong.board->out_of_step_count(), 1u);
}

TEST(VarnLink, SckPhasesTooShortForTheClockAreCounted) {
  // ATmega48 table fuses: low FF, so the clock rule gives 1 MHz and phases need > 2 us.
  Banger b("part=ATmega48");
  b.phase_us = 1.0;
  EXPECT_EQ(b.enable(), 0x53);  // not strict: the bits still arrive
  EXPECT_GT(b.board->timing_violations(), 0u);
  EXPECT_NEAR(b.board->sck_high_min_us(), 1.0, 1e-9);
  EXPECT_NEAR(b.board->sck_low_min_us(), 1.0, 1e-9);

  Banger slow("part=ATmega48");
  slow.phase_us = 2.5;
  EXPECT_EQ(slow.enable(), 0x53);
  EXPECT_EQ(slow.board->timing_violations(), 0u);

  // The ATmega644's table fuses run it at 20 MHz: 3 periods, 0.15 us.
  Banger fast_chip("");
  fast_chip.phase_us = 0.2;
  EXPECT_EQ(fast_chip.enable(), 0x53);
  EXPECT_EQ(fast_chip.board->timing_violations(), 0u);
  // clock= overrides the fuses.
  Banger overridden("clock=1");
  overridden.phase_us = 0.2;
  overridden.enable();
  EXPECT_GT(overridden.board->timing_violations(), 0u);
}

TEST(VarnLink, StrictChipMisreadsViolatingBits) {
  Banger b("part=ATmega48,strict=1");
  b.phase_us = 1.0;
  EXPECT_NE(b.enable(), 0x53);
  b.phase_us = 3.0;
  EXPECT_EQ(b.enable(), 0x53);
  EXPECT_EQ(b.signature(), (std::array<uint8_t, 3>{0x1E, 0x92, 0x05}));
  // A single short high phase while reading corrupts just that instruction.
  uint64_t before = b.board->timing_violations();
  b.phase_us = 1.0;
  std::array<uint8_t, 3> misread = b.signature();
  EXPECT_GT(b.board->timing_violations(), before);
  EXPECT_NE(misread, (std::array<uint8_t, 3>{0x1E, 0x92, 0x05}));
}

TEST(VarnLink, InstructionsBeforeTwentyMillisecondsAfterReset) {
  Banger lenient("");
  EXPECT_EQ(lenient.enable(5000), 0x53);
  EXPECT_EQ(lenient.board->timing_violations(), 1u);

  Banger strict("strict=1");
  EXPECT_NE(strict.enable(5000), 0x53);
  EXPECT_EQ(strict.enable(20500), 0x53);

  // Fast mode applies no timing rule at all.
  Banger fast("timing=fast,strict=1,part=ATmega48");
  fast.phase_us = 0.01;
  EXPECT_EQ(fast.enable(1), 0x53);
  EXPECT_EQ(fast.board->timing_violations(), 0u);
}

TEST(VarnLink, TraceRecordsEveryPinChange) {
  TempDir dir;
  std::string path = dir.file("isp.vcd");
  std::string message;
  {
    Trace trace(path);
    Banger b("", &trace);
    ASSERT_EQ(b.enable(), 0x53);
    b.signature();
    ASSERT_TRUE(trace.close(message)) << message;
  }
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  std::string vcd = text.str();
  std::map<std::string, std::string> ids;
  std::istringstream lines(vcd);
  std::string line;
  std::map<std::string, int> changes;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string w0, w1, w2, id, name;
    words >> w0;
    if (w0 == "$var") {
      words >> w1 >> w2 >> id >> name;
      ids[name] = id;
    } else if (!w0.empty() && (w0[0] == '0' || w0[0] == '1')) {
      changes[w0.substr(1)]++;
    }
  }
  ASSERT_EQ(ids.size(), 4u);
  // Four instructions of 32 clocks each, plus the initial levels.
  EXPECT_EQ(changes[ids["SCK"]], 1 + 2 * 32 * 4);
  EXPECT_EQ(changes[ids["RESET"]], 1 + 2);
  EXPECT_GT(changes[ids["MISO"]], 4);
  EXPECT_GT(changes[ids["MOSI"]], 4);
}

// The logic-analyser software's SPI and AVR ISP decoders read a traced session.
// Skipped where sigrok-cli is not installed.
TEST(VarnLink, TraceDecodesInSigrok) {
  if (std::system("command -v sigrok-cli >/dev/null 2>&1") != 0) GTEST_SKIP() << "sigrok-cli not installed";
  TempDir dir;
  std::string path = dir.file("isp.vcd");
  {
    Trace trace(path);
    Banger b("part=ATmega88", &trace);
    ASSERT_EQ(b.enable(), 0x53);
    b.signature();
    b.fuses();
    b.release();
    std::string message;
    ASSERT_TRUE(trace.close(message)) << message;
  }
  std::string command = "sigrok-cli -I vcd -i '" + path +
                        "' -P spi:clk=SCK:mosi=MOSI:miso=MISO:cs=RESET,avr_isp -A avr_isp 2>&1";
  std::FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buffer[512];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  EXPECT_NE(out.find("Programming enable"), std::string::npos) << out;
  EXPECT_NE(out.find("Device: Atmel ATmega88"), std::string::npos) << out;
  EXPECT_NE(out.find("Read fuse bits: 0xe2"), std::string::npos) << out;
  EXPECT_NE(out.find("Read extended fuse bits: 0xf9"), std::string::npos) << out;
  EXPECT_EQ(out.find("Warning"), std::string::npos) << out;
}
