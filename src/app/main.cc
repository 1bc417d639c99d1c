// The converter's executable.
#include "app/entry.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  auto platform = quorda::make_posix_platform();
  return quorda::quorda_main(argc, argv, *platform);
}
