// main() of the GoogleTest programs whose code under test posts events or
// runs QProcess: a QCoreApplication lives for the whole run. Link
// imgsmith_gtest_qcore_main instead of GTest::gtest_main.
#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
