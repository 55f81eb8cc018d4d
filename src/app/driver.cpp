#include "app/driver.h"

#include <cstdio>

#include "driver/config.h"
#include "driver/logger.h"

int app_main(int argc, char** argv) {
  init_logger(LogTarget::terminal);
  std::fprintf(stderr, "%s: not built yet\n", program_name);
  return 1;
}
