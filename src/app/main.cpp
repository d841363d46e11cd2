#include "app/program_start.h"

int main(int argc, char **argv)
{
    programStart(argc, argv);
}
