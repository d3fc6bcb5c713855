#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

namespace tessaly::testing {
namespace {

// One QApplication for the whole test program, on the offscreen platform so that no display is
// needed. It is made before the first test and destroyed before main() returns, which Qt needs.
class QtApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        application_ = std::make_unique<QApplication>(argc_, argv_);
        QApplication::setQuitOnLastWindowClosed(false);
    }

    void TearDown() override { application_.reset(); }

private:
    int argc_ = 1;
    char name_[32] = "tessaly-app-tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> application_;
};

[[maybe_unused]] const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

}  // namespace
}  // namespace tessaly::testing
