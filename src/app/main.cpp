#include "app/driver.h"
#include "platform/process_title.h"

int main(int argc, char** argv, char** envp) {
  platform::init_process_title(argc, argv, envp);
  return app_main(argc, argv);
}
