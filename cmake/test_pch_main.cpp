// The program that holds the test programs' precompiled header (see
// ombrix_test_pch in modules.cmake); it is never run.
int main() { return 0; }
