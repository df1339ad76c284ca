// Shared set-up of the GUI tests: a private temporary folder as working directory, its own
// settings file, the offscreen platform unless another one was asked for.
#pragma once

#include "zubtest.h"

#include <QApplication>
#include <QtTest>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

inline void ZubUiTestSetUp()
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const std::string& dir = ZubTestDir();
    setenv("ZUB_REGISTRY", (dir + "/Zub.ini").c_str(), 1);
    if (chdir(dir.c_str()) != 0)
        std::exit(2);
}

inline void ZubUiTestTearDown()
{
    if (!std::getenv("ZUB_KEEP_TEST_DIR") && chdir("/") == 0)
    {
        std::error_code ec;
        std::filesystem::remove_all(ZubTestDir(), ec);
    }
}

// Where a test saves its screenshots: $ZUB_BUILD_DIR/screenshots (set by CTest), else the
// working folder.
inline QString ZubScreenshotPath(const QString& name)
{
    const char* build = std::getenv("ZUB_BUILD_DIR");
    const QString dir = build ? QString::fromUtf8(build) + "/screenshots" : QString(".");
    std::filesystem::create_directories(dir.toStdString());
    return dir + "/" + name;
}

#define ZUB_QTEST_MAIN(TestClass)                                                            \
    int main(int argc, char** argv)                                                          \
    {                                                                                        \
        ZubUiTestSetUp();                                                                    \
        QApplication app(argc, argv);                                                        \
        TestClass test;                                                                      \
        const int result = QTest::qExec(&test, argc, argv);                                  \
        ZubUiTestTearDown();                                                                 \
        return result;                                                                       \
    }
