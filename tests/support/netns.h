#pragma once

#include <QCoreApplication>
#include <QString>
#include <QtTest>

#include <cstdio>

// Moves this process into a network namespace of its own and brings its loopback up, so that all of
// 127.0.0.0/8, ::1 and port 162 are private to the test and cannot collide with tests running beside it.
// Must run before any thread exists (first thing in main). Returns false with the reason.
bool enterPrivateNetworkNamespace(QString *error);

// Points the SNMP library's configuration search path and persistent directory at a fresh temporary
// directory (removed at exit) and keeps MIB loading quiet. Call before any SNMP library use.
void isolateSnmpLibraryFiles();

// QTEST_MAIN for tests that need the private namespace; fails loudly when it cannot be made.
#define VIGILEX_NETNS_TEST_MAIN_WITH(Application, TestObject)                                                          \
    int main(int argc, char *argv[])                                                                                   \
    {                                                                                                                  \
        QString why;                                                                                                   \
        if (!enterPrivateNetworkNamespace(&why)) {                                                                     \
            std::fprintf(stderr, "FAIL! cannot make a private network namespace (needs root or CAP_SYS_ADMIN): %s\n",  \
                qPrintable(why));                                                                                      \
            return 1;                                                                                                  \
        }                                                                                                              \
        isolateSnmpLibraryFiles();                                                                                     \
        Application app(argc, argv);                                                                                   \
        TestObject tc;                                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
#define VIGILEX_NETNS_TEST_MAIN(TestObject) VIGILEX_NETNS_TEST_MAIN_WITH(QCoreApplication, TestObject)
// The same for widget tests (the test includes QApplication).
#define VIGILEX_NETNS_WIDGET_TEST_MAIN(TestObject) VIGILEX_NETNS_TEST_MAIN_WITH(QApplication, TestObject)
