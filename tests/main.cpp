#include <QApplication>
#include <gtest/gtest.h>

#include "platform/qt/application.h"

// Window tests need an application object; the offscreen platform is set by CTest.
int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    SetUpApplication();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
