#include "app/startup.h"

int main(int argc, char** argv) {
    return sorvane::runApplication(argc, argv);
}
