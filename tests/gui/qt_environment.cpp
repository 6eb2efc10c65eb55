#include <memory>

#include <gtest/gtest.h>
#include <QApplication>

namespace {

// One QApplication for the whole test program, created before the first test and destroyed
// after the last, while gtest still runs (a static QApplication would die after main returns).
class QtEnvironment final : public testing::Environment {
public:
    void SetUp() override {
        // Window tests never need a display, wherever they run.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[10] = "gui_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] testing::Environment* const kQtEnvironment =
    testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
