// tamsolo-register: writes (or with --unregister removes) the controls' registration record in
// the installation's registry file.
#include <iostream>

#include "registration/registry_file.h"

int main(int argc, char** argv) { return tamsolo::RegisterMain(argc, argv, std::cout, std::cerr); }
