// Shared main of every test executable: a QApplication exists for the whole
// run (tests run under a virtual X server), and GoogleTest runs the cases.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
