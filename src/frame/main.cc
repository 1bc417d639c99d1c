// The converter's executable.
#include "frame/entry.h"
#include "frame/platform.h"

int main(int argc, char** argv) {
  auto platform = quorda::make_system_platform();
  return quorda::quorda_main(argc, argv, *platform);
}
