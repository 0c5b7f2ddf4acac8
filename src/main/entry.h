// The process entry: everything main() does, returning the exit status.
#pragma once

int ozr_main(int argc, char** argv);
