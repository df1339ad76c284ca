// zubcli: processes videos headlessly through the same document and phases as the desktop
// program, with the user's saved parameters plus overrides, and prints the candidates.
#include "zubcliapp.h"

int main(int argc, char** argv)
{
    return ZubCliMain(argc, argv);
}
