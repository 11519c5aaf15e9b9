#include <QApplication>

#include "app/shell/GRVApp.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    CGRVApp theApp;
    return theApp.InitInstance();
}
