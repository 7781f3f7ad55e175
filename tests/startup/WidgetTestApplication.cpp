// The window tests' application object, made before any test runs (and so
// before any fixture could make a plain QCoreApplication instead).

#include <QApplication>

#include <gtest/gtest.h>

namespace {
class WidgetApplication : public ::testing::Environment
{
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "velmar-window-tests";
        static char *argv[] = {name, nullptr};
        static QApplication *app = new QApplication(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        Q_UNUSED(app);
    }
};

[[maybe_unused]] ::testing::Environment *const environment = ::testing::AddGlobalTestEnvironment(new WidgetApplication);
} // namespace
