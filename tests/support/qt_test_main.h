#pragma once

#include <QApplication>
#include <QTest>

namespace qvtest {
// Runs a QtTest object; Qt warnings printed during the run fail it.
int RunQtTest(int argc, char** argv, QObject* test);
} // namespace qvtest

#define QV_TEST_MAIN(TestClass)                                                                              \
    int main(int argc, char** argv) {                                                                        \
        QApplication app(argc, argv);                                                                        \
        TestClass test;                                                                                      \
        return qvtest::RunQtTest(argc, argv, &test);                                                         \
    }
