// A test that skips itself says why after ctest's summary, not only under ctest -V:
// the reason goes to skipped-tests.txt, which ctest empties before a run and prints after.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

class SkipNotes : public testing::EmptyTestEventListener {
  // Named at the start: while a result is reported, GoogleTest holds the lock that
  // current_test_info() takes.
  void OnTestStart(const testing::TestInfo& test) override {
    name_ = std::string(test.test_suite_name()) + '.' + test.name();
  }
  void OnTestPartResult(const testing::TestPartResult& result) override {
    if (!result.skipped()) return;
    std::string why = result.message();
    if (why.rfind("Skipped\n", 0) == 0) why.erase(0, 8);
    std::ofstream(VARN_BUILD_DIR "/skipped-tests.txt", std::ios::app) << name_ << " skipped: " << why << '\n';
  }
  std::string name_;
};

const bool installed = (testing::UnitTest::GetInstance()->listeners().Append(new SkipNotes), true);

}  // namespace
