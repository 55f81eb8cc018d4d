// The program's entry: command line, checks and the top-level actions.
#pragma once

int app_main(int argc, char** argv);
