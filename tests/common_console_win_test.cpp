// Words and keys from a Windows pipe or file on standard input: the bytes a pipe
// delivers follow the same rules as a terminal's, and a waiting read still notices
// Ctrl+C.
#include <gtest/gtest.h>
#include <windows.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include "console.h"
#include "interrupt.h"
#include "run_program.h"

namespace {

std::string word() {
  char buffer[WORD_BUFFER_SIZE];
  WordResult r = console_read_word(buffer);
  if (r == WORD_END) return "<end>";
  if (r == WORD_TOO_LONG) return "<long>";
  return buffer;
}

// A program polls kbhit in its loop; the bytes of a pipe reach it a moment after
// they were written.
bool kbhit_within(int ms) {
  for (int waited = 0; waited < ms; waited += 5) {
    if (console_kbhit()) return true;
    Sleep(5);
  }
  return console_kbhit();
}

// Puts an anonymous pipe on standard input for the length of a test.
class PipedInput : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = GetStdHandle(STD_INPUT_HANDLE);
    ASSERT_TRUE(CreatePipe(&reader_, &writer_, nullptr, 0));
    SetStdHandle(STD_INPUT_HANDLE, reader_);
    console_reset();
  }
  void TearDown() override {
    end();
    SetStdHandle(STD_INPUT_HANDLE, saved_);
    CloseHandle(reader_);
    console_reset();
  }
  void type(const std::string& bytes) {
    DWORD sent = 0;
    ASSERT_TRUE(WriteFile(writer_, bytes.data(), static_cast<DWORD>(bytes.size()), &sent, nullptr));
    ASSERT_EQ(sent, bytes.size());
  }
  void end() {
    if (writer_) CloseHandle(writer_);
    writer_ = nullptr;
  }
  HANDLE saved_ = nullptr;
  HANDLE reader_ = nullptr;
  HANDLE writer_ = nullptr;
};

TEST_F(PipedInput, WordsOfALineAreWordsAndTheNextLineIsKeysUntilThePipeCloses) {
  type("i gc\nxq");
  EXPECT_EQ(word(), "i");
  EXPECT_TRUE(console_kbhit());
  EXPECT_EQ(word(), "gc");
  EXPECT_EQ(console_getch(), 'x');
  EXPECT_EQ(console_getch(), 'q');
  EXPECT_FALSE(console_kbhit()) << "an open, empty pipe holds no key";
  EXPECT_FALSE(console_input_ended());
  end();
  EXPECT_TRUE(kbhit_within(2000)) << "a closed pipe counts as a key";
  EXPECT_EQ(console_getch(), CONSOLE_END);
  EXPECT_EQ(word(), "<end>");
  EXPECT_TRUE(console_input_ended());
}

TEST_F(PipedInput, AWordReadWaitsForBytesThatComeLaterAndJoinsTheirPieces) {
  type("to");
  std::thread later([this] {
    Sleep(80);
    type("ggle\nk");
  });
  EXPECT_EQ(word(), "toggle") << "a word split across two writes is one word";
  later.join();
  EXPECT_TRUE(kbhit_within(2000));
  EXPECT_EQ(console_getch(), 'k');
}

TEST_F(PipedInput, CtrlCStopsAProgramWaitingForItsNextWord) {
  // The handler of a console event only sets the flag, on a thread of its own; the
  // waiting read must notice it rather than sleep in ReadFile until the next byte.
  EXPECT_EXIT(
      {
        install_interrupt_handlers();
        std::thread press([] {
          Sleep(100);
          interrupt_signal = SIGINT;
          Sleep(5000);
          std::_Exit(3);  // the read slept through it
        });
        press.detach();
        word();
        std::exit(0);
      },
      ::testing::ExitedWithCode(128 + SIGINT), "Interrupted");
}

TEST(FileInput, AFileNeverMakesAReaderWaitAndEndsAsAKey) {
  TempDir dir;
  dir.write("words.txt", "r\r\nx");
  HANDLE file = CreateFileA(dir.file("words.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  HANDLE saved = GetStdHandle(STD_INPUT_HANDLE);
  SetStdHandle(STD_INPUT_HANDLE, file);
  console_reset();
  EXPECT_EQ(word(), "r") << "the \\r of a Windows line end is white space";
  EXPECT_TRUE(console_kbhit());
  EXPECT_EQ(console_getch(), 'x');
  EXPECT_TRUE(console_kbhit()) << "the end of the file counts as a key";
  EXPECT_EQ(console_getch(), CONSOLE_END);
  SetStdHandle(STD_INPUT_HANDLE, saved);
  CloseHandle(file);
  console_reset();
}

}  // namespace
