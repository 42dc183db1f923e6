// voq: the command-line tool of the VOQ headset SDK.
#include "Tool.h"

int main(int argc, char** argv) { return voqtool::Main(argc, argv); }
