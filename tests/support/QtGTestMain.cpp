// main() for Qt test executables: GoogleTest cases with a QApplication alive,
// so widgets can be built and driven with QTest offscreen.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
