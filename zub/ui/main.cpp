#include "zubdesktopapp.h"

int main(int argc, char** argv)
{
    return ZubDesktopMain(argc, argv);
}
