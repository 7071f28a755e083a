// One QApplication for all window tests of a test program (offscreen platform).
// Listed among the sources of every test program that makes widgets.
#include <gtest/gtest.h>

#include <QApplication>

namespace {
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "mirdex_window_tests";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  QApplication* app_ = nullptr;
};
const auto* const registered = ::testing::AddGlobalTestEnvironment(new QtEnvironment);
}  // namespace
