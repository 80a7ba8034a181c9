// Words and keys from one buffer, on a pipe as standard input.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "console.h"

namespace {

// Puts a pipe on standard input for the length of a test.
class PipedInput : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = dup(0);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    dup2(fds[0], 0);
    close(fds[0]);
    writer_ = fds[1];
    console_reset();
  }
  void TearDown() override {
    if (writer_ >= 0) close(writer_);
    dup2(saved_, 0);
    close(saved_);
    console_reset();
  }
  void type(const std::string& bytes) { ASSERT_EQ(write(writer_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
  void end() {
    close(writer_);
    writer_ = -1;
  }
  std::string word() {
    char buffer[WORD_BUFFER_SIZE];
    WordResult r = console_read_word(buffer);
    if (r == WORD_END) return "<end>";
    if (r == WORD_TOO_LONG) return "<long>";
    return buffer;
  }
  int saved_ = -1;
  int writer_ = -1;
};

TEST_F(PipedInput, WordsOnOneLineAreWordsAndWhatFollowsTheLineIsKeys) {
  type("i gc\nxq");
  EXPECT_EQ(word(), "i");
  // gc was typed ahead on the line of i: a word, not a key; x is a key.
  EXPECT_TRUE(console_kbhit());
  EXPECT_EQ(word(), "gc");
  EXPECT_EQ(console_getch(), 'x');
  EXPECT_EQ(console_getch(), 'q');
  EXPECT_FALSE(console_kbhit());
  end();
  EXPECT_TRUE(console_kbhit()) << "end of input counts as a key";
  EXPECT_EQ(console_getch(), CONSOLE_END);
  EXPECT_EQ(word(), "<end>");
}

TEST_F(PipedInput, TheRestOfAnUnfinishedLineIsNoKey) {
  type("t xoq");
  EXPECT_EQ(word(), "t");
  EXPECT_FALSE(console_kbhit());
  type("\nk");
  EXPECT_TRUE(console_kbhit());
  EXPECT_EQ(console_getch(), 'k');
  EXPECT_EQ(word(), "xoq");
}

TEST_F(PipedInput, AnUnreadKeyStaysPendingForTheNextWord) {
  type("r\nx\np\n");
  EXPECT_EQ(word(), "r");
  EXPECT_TRUE(console_kbhit());
  EXPECT_TRUE(console_kbhit()) << "testing for a key must not consume it";
  EXPECT_EQ(word(), "x");
  EXPECT_EQ(word(), "p");
  end();
  EXPECT_EQ(word(), "<end>");
  EXPECT_TRUE(console_input_ended());
}

TEST_F(PipedInput, WordsOver199CharactersAreRefusedWhole) {
  type(std::string(199, 'a') + " " + std::string(200, 'b') + " next");
  end();
  EXPECT_EQ(word(), std::string(199, 'a'));
  testing::internal::CaptureStdout();
  EXPECT_EQ(word(), "<long>");
  std::string message = testing::internal::GetCapturedStdout();
  EXPECT_NE(message.find("200"), std::string::npos) << message;
  EXPECT_EQ(message.back(), '\n');
  EXPECT_EQ(word(), "next") << "nothing of the long word leaks into the next";
}

TEST(FileWords, ReadsWordsAcrossAnyWhiteSpaceAndRefusesLongOnes) {
  std::FILE* file = std::tmpfile();
  std::fputs("  one\ttwo\r\n\nthree " "0123456789abc" " four", file);
  std::rewind(file);
  char word[11];
  std::string got;
  testing::internal::CaptureStdout();
  WordResult r;
  int line = 1;
  while ((r = read_file_word(file, word, sizeof word, &line)) != WORD_END)
    got += (r == WORD_OK ? std::string(word) : "<long>") + "@" + std::to_string(line) + "|";
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(got, "one@1|two@1|three@3|<long>@3|four@3|");
  std::fclose(file);
}

}  // namespace
