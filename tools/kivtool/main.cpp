// kivtool: inspection and packing of shows. Its output formats are a contract that checks outside
// the project rely on to the letter.
#include "Commands.h"

int main(int argc, char** argv) { return kivtool::Main(argc, argv); }
