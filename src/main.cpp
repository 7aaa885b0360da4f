#include "app/Startup.h"

int main(int argc, char *argv[])
{
    return kestra::runApplication(argc, argv);
}
