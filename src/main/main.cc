#include "main/entry.h"

int main(int argc, char** argv) {
    return ozr_main(argc, argv);
}
